#include "platform/registry_file.h"

#include <cstdio>

#include "platform/sysutils.h"

namespace velmora::regfile {
namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr DWORD kRegSz = 1;
constexpr DWORD kRegBinary = 3;
constexpr DWORD kRegDword = 4;
// regedit keeps hex lists within 80 columns; so do we, for readability.
constexpr size_t kHexLineWidth = 76;

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

// Splits into physical lines without their CR LF or LF.
std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

// Reads a quoted string at the start of s ("..." with \\ and \" escaped);
// s is left behind the closing quote.
std::optional<std::string> ReadQuoted(std::string_view& s) {
  if (s.empty() || s.front() != '"') return std::nullopt;
  std::string out;
  size_t i = 1;
  while (i < s.size()) {
    char c = s[i];
    if (c == '"') {
      s.remove_prefix(i + 1);
      return out;
    }
    if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
      out += s[i + 1];
      i += 2;
      continue;
    }
    // regedit takes any other backslash as itself.
    out += c;
    ++i;
  }
  return std::nullopt;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<uint32_t> ReadHexNumber(std::string_view s, size_t max_digits) {
  if (s.empty() || s.size() > max_digits) return std::nullopt;
  uint32_t value = 0;
  for (char c : s) {
    int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  return value;
}

// "aa,bb,cc" (blanks allowed around the commas; empty list allowed).
std::optional<std::vector<uint8_t>> ReadHexList(std::string_view s) {
  std::vector<uint8_t> bytes;
  s = TrimRight(TrimLeft(s));
  if (s.empty()) return bytes;
  while (true) {
    size_t comma = s.find(',');
    std::string_view item = TrimRight(TrimLeft(s.substr(0, comma)));
    auto byte = ReadHexNumber(item, 2);
    if (!byte) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(*byte));
    if (comma == std::string_view::npos) return bytes;
    s.remove_prefix(comma + 1);
  }
}

// The data part of a value line, behind the "=".
std::optional<Value> ReadData(std::string_view s) {
  Value value;
  s = TrimRight(TrimLeft(s));
  if (!s.empty() && s.front() == '"') {
    auto text = ReadQuoted(s);
    if (!text || !TrimLeft(s).empty()) return std::nullopt;
    value.type = kRegSz;
    value.data.assign(text->begin(), text->end());
    value.data.push_back(0);
    return value;
  }
  if (s.starts_with("dword:")) {
    auto number = ReadHexNumber(s.substr(6), 8);
    if (!number) return std::nullopt;
    value.type = kRegDword;
    for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<uint8_t>(*number >> (8 * i)));
    return value;
  }
  std::string_view list;
  if (s.starts_with("hex:")) {
    value.type = kRegBinary;
    list = s.substr(4);
  } else if (s.starts_with("hex(")) {
    size_t close = s.find("):");
    if (close == std::string_view::npos) return std::nullopt;
    auto type = ReadHexNumber(s.substr(4, close - 4), 8);
    if (!type) return std::nullopt;
    value.type = *type;
    list = s.substr(close + 2);
  } else {
    return std::nullopt;
  }
  auto bytes = ReadHexList(list);
  if (!bytes) return std::nullopt;
  value.data = std::move(*bytes);
  return value;
}

// A value line: @=data or "name"=data.
std::optional<Value> ReadValueLine(std::string_view s) {
  std::string name;
  if (s.starts_with("@")) {
    s.remove_prefix(1);
  } else {
    auto quoted = ReadQuoted(s);
    if (!quoted) return std::nullopt;
    name = std::move(*quoted);
  }
  s = TrimLeft(s);
  if (s.empty() || s.front() != '=') return std::nullopt;
  auto value = ReadData(s.substr(1));
  if (!value) return std::nullopt;
  value->name = std::move(name);
  return value;
}

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

// The value's data in the form that reads back to the same type and bytes.
std::string FormatData(const Value& value, size_t column) {
  const auto& d = value.data;
  if (value.type == kRegSz && !d.empty() && d.back() == 0) {
    std::string_view text(reinterpret_cast<const char*>(d.data()), d.size() - 1);
    if (text.find('\0') == std::string_view::npos && QuotableText(text)) return Quote(text);
  }
  char buffer[32];
  if (value.type == kRegDword && d.size() == 4) {
    uint32_t number = d[0] | d[1] << 8 | d[2] << 16 | static_cast<uint32_t>(d[3]) << 24;
    std::snprintf(buffer, sizeof buffer, "dword:%08x", number);
    return buffer;
  }
  std::string out;
  if (value.type == kRegBinary) {
    out = "hex:";
  } else {
    std::snprintf(buffer, sizeof buffer, "hex(%x):", static_cast<unsigned>(value.type));
    out = buffer;
  }
  column += out.size();
  for (size_t i = 0; i < d.size(); ++i) {
    std::snprintf(buffer, sizeof buffer, "%02x", d[i]);
    out += buffer;
    column += 2;
    if (i + 1 == d.size()) break;
    out += ',';
    ++column;
    if (column >= kHexLineWidth) {
      out += "\\\r\n  ";
      column = 2;
    }
  }
  return out;
}

// A hex list goes on over lines that end in "\".
bool ContinuesOnNextLine(std::string_view line) {
  if (line.empty() || line.back() != '\\') return false;
  if (line.starts_with("@")) {
    line.remove_prefix(1);
  } else if (!ReadQuoted(line)) {
    return false;
  }
  line = TrimLeft(line);
  return !line.empty() && line.front() == '=' && TrimLeft(line.substr(1)).starts_with("hex");
}

}  // namespace

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() == b.size() && a == b) return true;
  return AnsiUpperCase(std::string(a)) == AnsiUpperCase(std::string(b));
}

bool QuotableText(std::string_view text) {
  return text.find('\r') == std::string_view::npos && text.find('\n') == std::string_view::npos;
}

Value* Key::FindValue(std::string_view name) {
  for (auto& value : values) {
    if (SameName(value.name, name)) return &value;
  }
  return nullptr;
}

void Key::SetValue(Value value) {
  if (Value* existing = FindValue(value.name)) {
    // The name keeps the case it was first written with, as on Windows.
    existing->type = value.type;
    existing->data = std::move(value.data);
  } else {
    values.push_back(std::move(value));
  }
}

Key* Hive::FindKey(std::string_view path) {
  for (auto& key : keys) {
    if (SameName(key.path, path)) return &key;
  }
  return nullptr;
}

bool Hive::KeyExists(std::string_view path) const {
  std::string folded = AnsiUpperCase(std::string(path));
  for (const auto& key : keys) {
    std::string other = AnsiUpperCase(key.path);
    if (other == folded) return true;
    if (other.size() > folded.size() && other.starts_with(folded) && other[folded.size()] == '\\') {
      return true;
    }
  }
  return false;
}

Key& Hive::AddKey(std::string path) {
  keys.push_back(Key{std::move(path), {}});
  return keys.back();
}

std::optional<Hive> ParseHive(std::string_view text) {
  Hive hive;
  std::vector<std::string_view> lines = Lines(text);
  size_t i = 0;
  while (i < lines.size() && TrimRight(lines[i]).empty()) ++i;
  if (i == lines.size()) return hive;
  if (TrimRight(lines[i]) != kHeader) return std::nullopt;
  Key* current = nullptr;
  for (++i; i < lines.size(); ++i) {
    std::string_view line = TrimRight(TrimLeft(lines[i]));
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line.back() != ']' || line.size() < 3 || line[1] == '-') return std::nullopt;
      std::string path(line.substr(1, line.size() - 2));
      current = hive.FindKey(path);
      if (!current) current = &hive.AddKey(std::move(path));
      continue;
    }
    if (!current) return std::nullopt;
    std::string joined(line);
    while (ContinuesOnNextLine(joined) && i + 1 < lines.size()) {
      joined.pop_back();
      joined += TrimRight(TrimLeft(lines[++i]));
    }
    auto value = ReadValueLine(joined);
    if (!value) return std::nullopt;
    current->SetValue(std::move(*value));
  }
  return hive;
}

std::string FormatHive(const Hive& hive) {
  std::string out = std::string(kHeader) + "\r\n\r\n";
  for (const auto& key : hive.keys) {
    out += "[" + key.path + "]\r\n";
    for (const auto& value : key.values) {
      std::string name = value.name.empty() ? "@" : Quote(value.name);
      out += name + "=" + FormatData(value, name.size() + 1) + "\r\n";
    }
    out += "\r\n";
  }
  return out;
}

}  // namespace velmora::regfile
