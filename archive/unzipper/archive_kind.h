// Archive kind detection: by the file name's extension first, by content
// second.
#pragma once

#include <string>

#include "archive/zip/zip_directory.h"

namespace velmora {

// Decides the kind of FileName (a Windows path). Only the extensions ".EXE",
// ".ZIP", ".JAR", ".TAR", ".GZ", ".TGZ", ".CAB" and none at all are looked
// into; a ZIP archive under any other extension is akUnknown. A name without
// an extension is checked like ".EXE", so a Linux program with a ZIP appended
// is a self-extracting archive. The first of byte-split parts (NAME.001
// with a NAME.002 beside it) is looked into as the whole they make.
TAbArchiveKind DetectArchiveKind(const std::string& FileName);

}  // namespace velmora
