// Reads arbitrary bytes as the machine hive file, in whichever form they
// claim (Wine's own or REGEDIT4), as a prefix's system.reg may hold anything.
// A hive that is read must be written back so that it reads again, a Wine
// hive byte for byte when nothing changed, and a value set in it must read
// back as set, whatever else the file holds.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/registry_file.h"

using namespace velmora;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void FuzzWineHive(std::string_view text) {
  auto hive = regfile::WineHive::Parse(text);
  if (!hive) return;
  Check(hive->Format() == text);
  constexpr uint64_t kNow = 134412624000000000ULL;
  const std::string key = "Software\\Vendor \\x41 [1]";
  const std::string title("T\xC3\xA9l \"\\\t\0x1", 11);
  regfile::Value value{"Title", 1, {title.begin(), title.end()}};
  value.data.push_back(0);
  hive->AddKey(key, kNow);
  hive->SetValue(key, value, kNow);
  hive->SetValue("Software", {"", 3, {1, 2, 3}}, kNow);
  std::string written = hive->Format();
  auto again = regfile::WineHive::Parse(written);
  Check(again.has_value());
  Check(again->Format() == written);
  auto read = again->QueryValue(key, "title");
  Check(read && read->type == 1 && read->data == value.data);
}

void FuzzRegedit4(std::string_view text) {
  auto hive = regfile::ParseHive(text);
  if (!hive) return;
  std::string written = regfile::FormatHive(*hive);
  auto again = regfile::ParseHive(written);
  Check(again.has_value());
  Check(regfile::FormatHive(*again) == written);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (regfile::WineHive::IsWineHive(text)) {
    FuzzWineHive(text);
  } else {
    FuzzRegedit4(text);
  }
  return 0;
}
