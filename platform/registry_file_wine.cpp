// Wine's hive file (registry_file.h). The escapes, the value forms and the
// wrapping of hex lists follow what wineserver writes when it saves a hive,
// so that a key we write reads back in Wine exactly as if Wine had set it,
// and Wine's next save of it differs from ours at most in its time stamp.
#include <algorithm>
#include <cstdio>

#include "platform/registry_file.h"
#include "platform/sysutils.h"

namespace velmora::regfile {
namespace {

// wineserver's first line; older versions are not read by Wine 8 either.
constexpr std::string_view kWineHeader = "WINE REGISTRY Version 2";
// The root this file holds: "REGISTRY\\Machine" since Wine 6, "\\Machine"
// before (both as written, with the backslashes escaped).
constexpr std::string_view kRootLine = ";; All keys relative to ";
constexpr std::string_view kMachineRoots[] = {"REGISTRY\\\\Machine", "\\\\Machine"};
constexpr std::string_view kTimeOption = "#time=";
// FILETIME ticks between 1601-01-01 and 1970-01-01, and ticks per second.
constexpr uint64_t kTicks1601To1970 = 116444736000000000ULL;
constexpr uint64_t kTicksPerSecond = 10000000;
// wineserver breaks a hex list once a line passes this many columns.
constexpr int kHexWrapColumn = 76;
constexpr DWORD kRegSz = 1;
constexpr DWORD kRegExpandSz = 2;
constexpr DWORD kRegBinary = 3;
constexpr DWORD kRegDword = 4;
constexpr DWORD kRegMultiSz = 7;
constexpr char16_t kReplacement = 0xFFFD;

bool IsStringType(DWORD type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

// A physical line without its line end.
std::string_view Content(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// Physical lines, each with its line end.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    size_t size = end == std::string_view::npos ? text.size() : end + 1;
    lines.push_back(text.substr(0, size));
    text.remove_prefix(size);
  }
  return lines;
}

// UTF-8 to UTF-16 as MultiByteToWideChar does it for the UTF-8 code page:
// a byte that starts no valid sequence becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  size_t i = 0;
  while (i < s.size()) {
    auto lead = static_cast<uint8_t>(s[i]);
    size_t extra = lead < 0x80 ? 0 : (lead >> 5) == 6 ? 1 : (lead >> 4) == 14 ? 2
                                   : (lead >> 3) == 30 ? 3 : 4;
    uint32_t code = extra == 0 ? lead : extra == 1 ? lead & 0x1F : extra == 2 ? lead & 0x0F
                                                                              : lead & 0x07;
    bool valid = extra < 4 && extra < s.size() - i;
    for (size_t k = 1; valid && k <= extra; ++k) {
      auto next = static_cast<uint8_t>(s[i + k]);
      valid = (next & 0xC0) == 0x80;
      code = code << 6 | (next & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not text.
    constexpr uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    valid = valid && code >= kSmallest[extra] && code <= 0x10FFFF &&
            !(code >= 0xD800 && code <= 0xDFFF);
    if (!valid) {
      out += kReplacement;
      ++i;
      continue;
    }
    if (code >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
    i += extra + 1;
  }
  return out;
}

// A lone surrogate becomes U+FFFD, as WideCharToMultiByte makes it.
std::string Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t code = s[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (code >= 0xD800 && code <= 0xDFFF) {
      code = kReplacement;
    }
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | code >> 6);
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | code >> 12);
      out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | code >> 18);
      out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return out;
}

std::vector<uint8_t> Utf16Bytes(std::u16string_view s) {
  std::vector<uint8_t> bytes;
  bytes.reserve(s.size() * 2);
  for (char16_t c : s) {
    bytes.push_back(static_cast<uint8_t>(c));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  return bytes;
}

std::u16string Utf16FromBytes(const std::vector<uint8_t>& bytes) {
  std::u16string s;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    s += static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
  }
  return s;
}

// Reads an escaped string up to its end character, as wineserver reads one:
// \a \b \e \f \n \r \t \v, \x with up to four hex digits, up to three octal
// digits, and a backslash before any other character keeps that character.
// s is left behind the end character; null when the line ends first.
std::optional<std::u16string> ReadEscaped(std::string_view& s, char end) {
  std::u16string out;
  size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (c == end) {
      s.remove_prefix(i + 1);
      return out;
    }
    if (c != '\\') {
      out += static_cast<char16_t>(static_cast<uint8_t>(c));
      ++i;
      continue;
    }
    if (++i == s.size()) return std::nullopt;
    c = s[i];
    constexpr std::string_view kLetters = "abefnrtv";
    constexpr char16_t kCodes[] = {7, 8, 27, 12, 10, 13, 9, 11};
    if (size_t letter = kLetters.find(c); letter != std::string_view::npos) {
      out += kCodes[letter];
      ++i;
    } else if (c == 'x') {
      ++i;
      char16_t code = 0;
      int digits = 0;
      for (; digits < 4 && i < s.size() && HexDigit(s[i]) >= 0; ++digits, ++i) {
        code = static_cast<char16_t>(code * 16 + HexDigit(s[i]));
      }
      out += digits == 0 ? u'x' : code;
    } else if (c >= '0' && c <= '7') {
      char16_t code = 0;
      for (int digits = 0; digits < 3 && i < s.size() && s[i] >= '0' && s[i] <= '7'; ++digits) {
        code = static_cast<char16_t>(code * 8 + (s[i++] - '0'));
      }
      out += code;
    } else {
      out += static_cast<char16_t>(static_cast<uint8_t>(c));
      ++i;
    }
  }
  return std::nullopt;
}

// wineserver's escaping: control characters as C escapes or octal, anything
// past ASCII as \x (four digits when a hex digit follows), and a backslash
// before "\" and the two characters given. A last NUL is left out: it is
// the terminator of a string value.
std::string WriteEscaped(std::u16string_view s, const char escaped[2]) {
  static constexpr char kEscapes[33] = ".......abtnvfr.............e....";
  std::string out;
  char buffer[16];
  for (size_t i = 0; i < s.size(); ++i) {
    char16_t c = s[i];
    char16_t next = i + 1 < s.size() ? s[i + 1] : 0;
    bool next_is_hex = next < 128 && HexDigit(static_cast<char>(next)) >= 0;
    bool next_is_octal = next >= '0' && next <= '7';
    if (c > 127) {
      std::snprintf(buffer, sizeof buffer, next_is_hex ? "\\x%04x" : "\\x%x", unsigned{c});
      out += buffer;
    } else if (c < 32) {
      if (c == 0 && i + 1 == s.size()) continue;
      if (kEscapes[c] != '.') {
        out += '\\';
        out += kEscapes[c];
      } else {
        std::snprintf(buffer, sizeof buffer, next_is_octal ? "\\%03o" : "\\%o", unsigned{c});
        out += buffer;
      }
    } else {
      if (c == '\\' || c == escaped[0] || c == escaped[1]) out += '\\';
      out += static_cast<char>(c);
    }
  }
  return out;
}

// Key names and value names compare as wineserver orders them: upper-cased,
// a shorter name before a longer one that starts with it. Keys compare part
// by part, so a key comes before its subkeys and those before its next
// sibling, which is the order of a saved hive.
int CompareNames(std::string_view a, std::string_view b) {
  std::string upper_a = AnsiUpperCase(std::string(a));
  std::string upper_b = AnsiUpperCase(std::string(b));
  return upper_a.compare(upper_b) < 0 ? -1 : upper_a == upper_b ? 0 : 1;
}

int ComparePaths(std::string_view a, std::string_view b) {
  while (true) {
    size_t end_a = a.find('\\'), end_b = b.find('\\');
    if (int order = CompareNames(a.substr(0, end_a), b.substr(0, end_b)); order != 0) return order;
    if (end_a == std::string_view::npos || end_b == std::string_view::npos) {
      return end_a == end_b ? 0 : end_a == std::string_view::npos ? -1 : 1;
    }
    a.remove_prefix(end_a + 1);
    b.remove_prefix(end_b + 1);
  }
}

std::optional<uint64_t> ReadHex64(std::string_view s) {
  if (s.empty() || s.size() > 16) return std::nullopt;
  uint64_t value = 0;
  for (char c : s) {
    int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<uint64_t>(digit);
  }
  return value;
}

// "aa,bb,...": appends to bytes; a list may end in "\" (goes on below) or
// be empty. Returns false on anything else.
bool ReadHexBytes(std::string_view s, std::vector<uint8_t>& bytes, bool& continues) {
  continues = false;
  s = TrimLeft(s);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  if (!s.empty() && s.back() == '\\') {
    continues = true;
    s.remove_suffix(1);
  }
  while (!s.empty()) {
    if (s.size() < 2 || HexDigit(s[0]) < 0 || HexDigit(s[1]) < 0) return false;
    bytes.push_back(static_cast<uint8_t>(HexDigit(s[0]) * 16 + HexDigit(s[1])));
    s.remove_prefix(2);
    if (s.empty()) break;
    if (s.front() != ',') return false;
    s.remove_prefix(1);
  }
  return true;
}

// One value, from its first line; the lines that follow are taken while a
// hex list goes on. lines[index] is left at the value's last line.
std::optional<Value> ReadValue(const std::vector<std::string_view>& lines, size_t& index) {
  std::string_view s = TrimLeft(Content(lines[index]));
  Value value;
  if (s.front() == '@') {
    s.remove_prefix(1);
  } else {
    s.remove_prefix(1);
    auto name = ReadEscaped(s, '"');
    if (!name) return std::nullopt;
    value.name = Utf16ToUtf8(*name);
  }
  s = TrimLeft(s);
  if (s.empty() || s.front() != '=') return std::nullopt;
  s = TrimLeft(s.substr(1));
  // The string forms wineserver writes: plain for REG_SZ, str(2) and str(7)
  // for the expandable and multiple strings; "str:" is an old REG_SZ.
  static constexpr std::pair<std::string_view, DWORD> kStringForms[] = {
      {"\"", kRegSz}, {"str:\"", kRegSz}, {"str(2):\"", kRegExpandSz}, {"str(7):\"", kRegMultiSz}};
  for (const auto& [prefix, type] : kStringForms) {
    if (!s.starts_with(prefix)) continue;
    s.remove_prefix(prefix.size());
    auto text = ReadEscaped(s, '"');
    if (!text || !TrimLeft(s).empty()) return std::nullopt;
    *text += u'\0';
    value.type = type;
    value.data = Utf16Bytes(*text);
    return value;
  }
  if (s.starts_with("dword:")) {
    auto number = ReadHex64(s.substr(6));
    if (!number || s.size() - 6 > 8) return std::nullopt;
    value.type = kRegDword;
    for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<uint8_t>(*number >> (8 * i)));
    return value;
  }
  if (s.starts_with("hex:")) {
    value.type = kRegBinary;
    s.remove_prefix(4);
  } else if (s.starts_with("hex(")) {
    size_t close = s.find("):");
    if (close == std::string_view::npos || close - 4 > 8) return std::nullopt;
    auto type = ReadHex64(s.substr(4, close - 4));
    if (!type) return std::nullopt;
    value.type = static_cast<DWORD>(*type);
    s.remove_prefix(close + 2);
  } else {
    return std::nullopt;
  }
  bool continues = false;
  while (true) {
    if (!ReadHexBytes(s, value.data, continues)) return std::nullopt;
    if (!continues) return value;
    if (++index == lines.size()) return std::nullopt;
    s = Content(lines[index]);
  }
}

// The value's lines as wineserver writes them (data as Wine keeps it).
std::string WriteValue(const Value& value) {
  std::string out =
      value.name.empty() ? "@=" : "\"" + WriteEscaped(Utf8ToUtf16(value.name), "\"\"") + "\"=";
  const auto& d = value.data;
  if (IsStringType(value.type) && d.size() >= 2 && d.size() % 2 == 0 && d[d.size() - 2] == 0 &&
      d.back() == 0) {
    if (value.type != kRegSz) out += value.type == kRegExpandSz ? "str(2):" : "str(7):";
    return out + "\"" + WriteEscaped(Utf16FromBytes(d), "\"\"") + "\"\n";
  }
  char buffer[32];
  if (value.type == kRegDword && d.size() == 4) {
    uint32_t number = d[0] | d[1] << 8 | d[2] << 16 | static_cast<uint32_t>(d[3]) << 24;
    std::snprintf(buffer, sizeof buffer, "dword:%08x\n", number);
    return out + buffer;
  }
  if (value.type == kRegBinary) {
    out += "hex:";
  } else {
    std::snprintf(buffer, sizeof buffer, "hex(%x):", unsigned{value.type});
    out += buffer;
  }
  int column = static_cast<int>(out.size());
  for (size_t i = 0; i < d.size(); ++i) {
    std::snprintf(buffer, sizeof buffer, "%02x", d[i]);
    out += buffer;
    column += 2;
    if (i + 1 == d.size()) break;
    out += ',';
    if (++column > kHexWrapColumn) {
      out += "\\\n  ";
      column = 2;
    }
  }
  return out + "\n";
}

std::string WriteTime(uint64_t time) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "#time=%x%08x\n", static_cast<unsigned>(time >> 32),
                static_cast<unsigned>(time));
  return buffer;
}

std::string WriteHeader(const std::string& bracket, uint64_t time) {
  uint64_t seconds = time > kTicks1601To1970 ? (time - kTicks1601To1970) / kTicksPerSecond : 0;
  return bracket + " " + std::to_string(static_cast<uint32_t>(seconds)) + "\n";
}

// The key's name as it stands between the brackets: "[Software\\Vendor]".
std::string WriteBracket(std::string_view path) {
  std::string out = "[";
  while (true) {
    size_t end = path.find('\\');
    out += WriteEscaped(Utf8ToUtf16(path.substr(0, end)), "[]");
    if (end == std::string_view::npos) break;
    out += "\\\\";
    path.remove_prefix(end + 1);
  }
  return out + "]";
}

// A header line "[name] seconds"; the name may hold escaped backslashes,
// which part it, and escaped brackets.
bool ReadHeader(std::string_view line, std::string& path, std::string& bracket) {
  std::string_view s = TrimLeft(Content(line));
  std::string_view start = s;
  s.remove_prefix(1);
  auto name = ReadEscaped(s, ']');
  if (!name) return false;
  bracket = std::string(start.substr(0, start.size() - s.size()));
  path = Utf16ToUtf8(*name);
  s = TrimLeft(s);
  while (!s.empty() && s.front() >= '0' && s.front() <= '9') s.remove_prefix(1);
  return TrimLeft(s).empty();
}

}  // namespace

bool WineHive::IsWineHive(std::string_view text) {
  return Content(text.substr(0, text.find('\n'))) == kWineHeader;
}

std::optional<WineHive> WineHive::Parse(std::string_view text) {
  if (!IsWineHive(text)) return std::nullopt;
  WineHive hive;
  std::vector<std::string_view> lines = SplitLines(text);
  Section* current = nullptr;
  for (size_t i = 0; i < lines.size(); ++i) {
    const size_t first = i;
    std::string_view s = TrimLeft(Content(lines[i]));
    Item item;
    if (i == 0) {
      // The header line itself.
    } else if (s.starts_with("[")) {
      Section section;
      if (!ReadHeader(lines[i], section.path, section.bracket)) return std::nullopt;
      section.header = std::string(lines[i]);
      hive.sections_.push_back(std::move(section));
      current = &hive.sections_.back();
      continue;
    } else if (s.starts_with(kTimeOption) && current) {
      auto time = ReadHex64(s.substr(kTimeOption.size()));
      if (!time) return std::nullopt;
      current->time = *time;
      item.kind = Item::kTime;
    } else if (s.starts_with("@") || s.starts_with("\"")) {
      if (!current) return std::nullopt;
      auto value = ReadValue(lines, i);
      if (!value) return std::nullopt;
      item.kind = Item::kValue;
      item.value = std::move(*value);
    } else if (s.starts_with(kRootLine) && !current) {
      std::string_view root = s.substr(kRootLine.size());
      if (std::find(std::begin(kMachineRoots), std::end(kMachineRoots), root) ==
          std::end(kMachineRoots)) {
        return std::nullopt;  // user.reg or userdef.reg, not the machine's hive
      }
    } else if (!s.empty() && s.front() != '#' && s.front() != ';') {
      return std::nullopt;
    }
    for (size_t k = first; k <= i; ++k) item.text += lines[k];
    if (current) {
      current->items.push_back(std::move(item));
    } else {
      hive.preamble_ += item.text;
    }
  }
  return hive;
}

// A key named twice is one key to wineserver, which loads the file from
// top to bottom: what the later section sets wins, so a value is set there.
WineHive::Section* WineHive::FindSection(std::string_view path) {
  for (auto it = sections_.rbegin(); it != sections_.rend(); ++it) {
    if (ComparePaths(it->path, path) == 0) return &*it;
  }
  return nullptr;
}

const WineHive::Section* WineHive::FindSection(std::string_view path) const {
  return const_cast<WineHive*>(this)->FindSection(path);
}

bool WineHive::KeyExists(std::string_view path) const {
  if (path.empty()) return true;
  std::string folded = AnsiUpperCase(std::string(path));
  for (const auto& section : sections_) {
    std::string other = AnsiUpperCase(section.path);
    if (other == folded) return true;
    if (other.size() > folded.size() && other.starts_with(folded) && other[folded.size()] == '\\') {
      return true;
    }
  }
  return false;
}

std::optional<Value> WineHive::QueryValue(std::string_view path, std::string_view name) const {
  // A value named twice is one value; the later line wins, as it does when
  // wineserver loads the file.
  const Value* found = nullptr;
  for (const auto& section : sections_) {
    if (ComparePaths(section.path, path) != 0) continue;
    for (const auto& item : section.items) {
      if (item.kind == Item::kValue && CompareNames(item.value.name, name) == 0) {
        found = &item.value;
      }
    }
  }
  if (!found) return std::nullopt;
  Value value = *found;
  if (IsStringType(value.type) && value.data.size() % 2 == 0) {
    std::string ansi = Utf16ToUtf8(Utf16FromBytes(value.data));
    value.data.assign(ansi.begin(), ansi.end());
  }
  return value;
}

void WineHive::Touch(Section& section, uint64_t now) {
  section.time = now;
  section.changed = true;
  auto time = std::find_if(section.items.begin(), section.items.end(),
                           [](const Item& item) { return item.kind == Item::kTime; });
  if (time == section.items.end()) {
    section.items.insert(section.items.begin(), Item{Item::kTime, "", {}});
  } else {
    time->text.clear();
  }
}

WineHive::Section& WineHive::MakeSection(std::string_view path) {
  auto place = std::find_if(sections_.begin(), sections_.end(), [&](const Section& section) {
    return ComparePaths(section.path, path) > 0;
  });
  Section section;
  section.path = std::string(path);
  section.bracket = WriteBracket(path);
  section.fresh = true;
  return *sections_.insert(place, std::move(section));
}

void WineHive::AddKey(std::string_view path, uint64_t now) {
  if (path.empty() || FindSection(path)) return;
  Touch(MakeSection(path), now);
}

void WineHive::SetValue(std::string_view path, const Value& value, uint64_t now) {
  Section* section = FindSection(path);
  if (!section) section = &MakeSection(path);
  Touch(*section, now);
  Value native = value;
  if (IsStringType(value.type)) {
    native.data = Utf16Bytes(Utf8ToUtf16(std::string_view(
        reinterpret_cast<const char*>(value.data.data()), value.data.size())));
  }
  auto& items = section->items;
  for (auto it = items.rbegin(); it != items.rend(); ++it) {
    if (it->kind == Item::kValue && CompareNames(it->value.name, value.name) == 0) {
      // The name keeps the case it was first written with, as on Windows.
      native.name = it->value.name;
      it->value = std::move(native);
      it->text.clear();
      return;
    }
  }
  // Before the first value whose name sorts after it, else after the last
  // value, else behind the key's options.
  auto place = std::find_if(items.begin(), items.end(), [&](const Item& item) {
    return item.kind == Item::kValue && CompareNames(item.value.name, value.name) > 0;
  });
  if (place == items.end()) {
    auto last = std::find_if(items.rbegin(), items.rend(),
                             [](const Item& item) { return item.kind == Item::kValue; });
    if (last != items.rend()) {
      place = last.base();
    } else {
      place = std::find_if(items.begin(), items.end(), [](const Item& item) {
        return item.kind == Item::kOther && TrimLeft(Content(item.text)).empty();
      });
    }
  }
  items.insert(place, Item{Item::kValue, "", std::move(native)});
}

std::string WineHive::Format() const {
  std::string out = preamble_;
  bool after_fresh = false;
  for (const auto& section : sections_) {
    // A key of ours is set off by a blank line on both sides, as wineserver
    // separates every key; the others keep the lines they had.
    if (section.fresh || after_fresh) {
      if (!out.empty() && !out.ends_with('\n')) out += '\n';
      if (!out.ends_with("\n\n")) out += '\n';
    }
    after_fresh = section.fresh;
    // What we write starts on a line of its own, even behind a last line
    // that had no line end.
    auto new_line = [&out] {
      if (!out.empty() && !out.ends_with('\n')) out += '\n';
    };
    if (section.changed) {
      new_line();
      out += WriteHeader(section.bracket, section.time);
    } else {
      out += section.header;
    }
    for (const auto& item : section.items) {
      if (!item.text.empty()) {
        out += item.text;
        continue;
      }
      new_line();
      out += item.kind == Item::kTime ? WriteTime(section.time) : WriteValue(item.value);
    }
  }
  return out;
}

}  // namespace velmora::regfile
