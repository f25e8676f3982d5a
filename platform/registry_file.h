// The two text forms of a registry hive that registry.cpp reads and
// writes, kept apart so each format can be tested on its own: REGEDIT4, the
// form of a fresh prefix, and Wine's own hive file, when the prefix is one
// that Wine made.
//
// REGEDIT4: what is read is the "REGEDIT4" header; [key] sections (a key that appears
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

// Wine's hive file, as wineserver saves it:
//
//   WINE REGISTRY Version 2
//   ;; All keys relative to REGISTRY\\Machine
//
//   #arch=win64
//
//   [Software\\Vendor] 1796787563
//   #time=1dd878ee1e13652
//   @="PDF"
//   "Path"=str(2):"%ProgramFiles%\\Vendor"
//   "Mode"=dword:00000000
//
// Key names are relative to the hive's root; after the name come the last
// change in seconds since 1970 and, on the #time= line, in FILETIME ticks.
// Strings are UTF-16 inside and written with C escapes (\n, \x1234, \0);
// str(2): and str(7): are expandable and multiple strings; hex lists go on
// over lines ending in "\". Lines starting with "#" give a key options
// (#class=, #link) or the file a property (#arch=), ";" starts a comment.
//
// Everything read is kept as text: a key that is not changed is written back
// byte for byte, and in a changed key only its header line, its #time= line
// and the values set are written anew, in the form wineserver gives them.
// A new key goes where wineserver would put it (keys in order of their
// names, compared without regard to case), its values in order of name too.
class WineHive {
 public:
  // Whether text starts with Wine's header line, whatever follows.
  static bool IsWineHive(std::string_view text);
  // Null when the text is not a machine hive in Wine's format that we
  // understand line by line.
  static std::optional<WineHive> Parse(std::string_view text);

  // Paths are relative to the root ("Software\Vendor"; "" is the root) and
  // compare without regard to case. A key exists when it has a section or
  // is the parent of one.
  bool KeyExists(std::string_view path) const;
  // The value as the ANSI functions see it: strings in UTF-8.
  std::optional<Value> QueryValue(std::string_view path, std::string_view name) const;
  // now: FILETIME ticks (100 ns since 1601), the key's new time stamp.
  void AddKey(std::string_view path, uint64_t now);
  // value is given as the ANSI functions take it (strings in UTF-8); the key
  // is made when it has no section yet.
  void SetValue(std::string_view path, const Value& value, uint64_t now);
  std::string Format() const;

 private:
  struct Item {
    enum Kind { kOther, kTime, kValue } kind = kOther;
    std::string text;  // as read (all its lines), or empty once changed
    Value value;       // kValue: the name in UTF-8, the data as Wine keeps it
  };
  struct Section {
    std::string path;          // unescaped, UTF-8
    std::string bracket;       // "[...]" as read, or as we write it
    std::string header;        // the whole first line as read
    uint64_t time = 0;         // FILETIME ticks
    bool changed = false;      // header and #time= are written anew
    bool fresh = false;        // made by us: blank lines around it are ours
    std::vector<Item> items;   // what follows the header, up to the next key
  };

  Section* FindSection(std::string_view path);
  const Section* FindSection(std::string_view path) const;
  Section& MakeSection(std::string_view path);
  static void Touch(Section& section, uint64_t now);

  std::string preamble_;  // the header and what comes before the first key
  std::vector<Section> sections_;
};

}  // namespace velmora::regfile
