#include "archive/unzipper/archive_kind.h"

#include <cstring>

#include "archive/base/file_info.h"
#include "archive/base/split_stream.h"
#include "platform/file_stream.h"
#include "platform/sysutils.h"

namespace velmora {

namespace {

// First bytes of the executables a ZIP may be appended to: a Windows (PE)
// image starts with "MZ", a Linux program with 7F 45 4C 46 (ELF), which is
// how velmora-server-setup is laid out.
bool StartsLikeProgram(const uint8_t* head, int32_t count) {
  if (count >= 2 && head[0] == 'M' && head[1] == 'Z') return true;
  return count >= 4 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F';
}

TAbArchiveKind CheckProgramWithZip(TStream& stream) {
  const int64_t start = stream.Position();
  uint8_t head[4] = {};
  stream.Seek(0, soFromBeginning);
  const int32_t count = stream.Read(head, sizeof head);
  stream.Seek(start, soFromBeginning);
  if (!StartsLikeProgram(head, count)) return akUnknown;
  return CheckZipFile(stream) == akZip ? akSelfExtractingZip : akUnknown;
}

// A POSIX tar header carries "ustar" at offset 257.
TAbArchiveKind CheckTarFile(TStream& stream) {
  constexpr int64_t kUstarMagicOffset = 257;
  const int64_t start = stream.Position();
  char magic[5] = {};
  stream.Seek(kUstarMagicOffset, soFromBeginning);
  const int32_t count = stream.Read(magic, sizeof magic);
  stream.Seek(start, soFromBeginning);
  return count == 5 && std::memcmp(magic, "ustar", 5) == 0 ? akTar : akUnknown;
}

// A gzip member starts with 1F 8B.
TAbArchiveKind CheckGzipFile(TStream& stream, TAbArchiveKind kind_if_gzip) {
  const int64_t start = stream.Position();
  uint8_t magic[2] = {};
  stream.Seek(0, soFromBeginning);
  const int32_t count = stream.Read(magic, sizeof magic);
  stream.Seek(start, soFromBeginning);
  return count == 2 && magic[0] == 0x1F && magic[1] == 0x8B ? kind_if_gzip : akUnknown;
}

TAbArchiveKind KindByContent(const std::string& ext, TStream& stream) {
  if (ext == ".EXE" || ext.empty()) return CheckProgramWithZip(stream);
  if (ext == ".ZIP" || ext == ".JAR") return CheckZipFile(stream);
  if (ext == ".TAR") return CheckTarFile(stream);
  if (ext == ".GZ") return CheckGzipFile(stream, akGzip);
  if (ext == ".TGZ") return CheckGzipFile(stream, akGzippedTar);
  if (ext == ".CAB") return akCabinet;  // decided by the name alone
  return akUnknown;
}

TAbArchiveKind KindByName(const std::string& ext) {
  if (ext == ".ZIP" || ext == ".JAR") return akZip;
  if (ext == ".TAR") return akTar;
  if (ext == ".GZ") return akGzip;
  if (ext == ".TGZ") return akGzippedTar;
  if (ext == ".CAB") return akCabinet;
  return akUnknown;
}

}  // namespace

TAbArchiveKind DetectArchiveKind(const std::string& FileName) {
  const std::string ext = UpperCase(ExtractFileExt(FileName));
  if (IsByteSplitFirstPart(FileName)) {
    // The parts of one file cut at arbitrary bytes: a ZIP when the whole is.
    TAbByteSplitStream stream(FileName, fmOpenRead | fmShareDenyNone);
    return CheckZipFile(stream);
  }
  if (FileExists(FileName) && FileSizeOf(FileName) != 0) {
    TFileStream stream(FileName, fmOpenRead | fmShareDenyNone);
    return KindByContent(ext, stream);
  }
  return KindByName(ext);
}

}  // namespace velmora
