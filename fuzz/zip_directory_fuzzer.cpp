// Opens arbitrary bytes as a ZIP archive from memory and walks what it
// lists: names, sizes, masks and target paths. Any error must be an archive
// error; a target accepted with its stored folders must stay inside the
// base folder.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/base/archive.h"
#include "archive/zip/zip_archive.h"
#include "archive/zip/zip_directory.h"
#include "platform/paths.h"

using namespace velmora;

namespace {

std::string g_base;  // an existing folder, as a Windows path

void WalkItem(TAbZipArchive& archive, int index) {
  TAbZipItem& item = *archive.ZipItems(index);
  std::string name = item.GetStoredName();
  // Read every field (unsigned: ZIP64 sizes may be anything).
  volatile uint64_t sizes = static_cast<uint64_t>(item.GetPackedSize()) +
                            static_cast<uint64_t>(item.GetUnpackedSize()) + item.GetCrc32() +
                            item.Method() + static_cast<uint64_t>(item.LocalHeaderOffset()) +
                            item.ExtraData().size();
  (void)sizes;
  ItemMatchesMaskList(item, "*.*; *.txt;dir\\*.exe");
  ItemMatchesMask(item, "C:\\a?c\\*.*");
  archive.ItemList().Find(name);
  for (TAbExtractOptions options : {TAbExtractOptions{0}, TAbExtractOptions{eoRestorePath}}) {
    std::string target = name;
    try {
      // Without eoCreateDirs nothing is ever created on disk.
      if (ConfirmTargetPath(g_base, target, options, nullptr)) {
        bool inside = target.compare(0, g_base.size() + 1, g_base + "\\") == 0 &&
                      target.find("\\..\\") == std::string::npos &&
                      (target.size() < 3 || target.compare(target.size() - 3, 3, "\\..") != 0);
        if (!inside) __builtin_trap();
      }
    } catch (const EAbException&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string root = std::filesystem::temp_directory_path().string() + "/velmora-fuzz-XXXXXX";
  if (::mkdtemp(root.data()) == nullptr) return 0;
  std::filesystem::create_directories(root + "/base");
  ::setenv("VELMORA_PREFIX", (root + "/prefix").c_str(), 1);
  g_base = WindowsPath(root + "/base");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryStream stream(std::vector<uint8_t>(data, data + size));
  CheckZipFile(stream);
  CheckSelfExtractingFile(stream);
  TAbZipArchive archive(&stream, "fuzz.zip");
  try {
    archive.Load();
  } catch (const EAbException&) {
    // Refused; the items read so far are still walked.
  }
  for (int i = 0; i < archive.ItemCount(); ++i) WalkItem(archive, i);
  return 0;
}
