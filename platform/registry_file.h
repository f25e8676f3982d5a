// The REGEDIT4 text form of a registry hive, read and written by
// registry.cpp. Kept apart so the format can be tested on its own.
//
// What is read: the "REGEDIT4" header; [key] sections (a key that appears
// twice is one key); values as @= or "name"= followed by "text", dword:
// with up to eight hex digits, hex: or hex(type): byte lists that may go on
// over lines ending in "\"; blank lines and ";" comments. Deletions ([-key],
// "name"=-) belong to import files, not to a hive, and make it unreadable.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32.h"

namespace velmora::regfile {

struct Value {
  std::string name;  // empty: the key's default value
  DWORD type = 0;
  std::vector<uint8_t> data;
};

struct Key {
  std::string path;  // full name, "HKEY_LOCAL_MACHINE\Software\Vendor"
  std::vector<Value> values;  // in the order they were first written

  Value* FindValue(std::string_view name);
  // Replaces a value of that name in place, or appends it.
  void SetValue(Value value);
};

struct Hive {
  std::vector<Key> keys;  // sections in file order

  Key* FindKey(std::string_view path);
  // A key exists when it has a section or is the parent of one.
  bool KeyExists(std::string_view path) const;
  Key& AddKey(std::string path);
};

// Names compare without regard to case.
bool SameName(std::string_view a, std::string_view b);

// Null when the text is not a hive we can read back exactly. Empty text is
// an empty hive.
std::optional<Hive> ParseHive(std::string_view text);
// CRLF line ends, as regedit writes them.
std::string FormatHive(const Hive& hive);

// Text that a quoted REGEDIT4 string cannot hold (a line break).
bool QuotableText(std::string_view text);

}  // namespace velmora::regfile
