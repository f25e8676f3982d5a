// mkinstaller OUTPUT PROGRAM PREFIX FILE...
//
// Writes OUTPUT: the bytes of PROGRAM followed by a ZIP archive of the FILEs
// (in the order given, each stored as PREFIX + its bare name, Deflate),
// with every offset counted from the first byte of OUTPUT. That is what
// lets the installer open its own file as an archive, and what unzip and
// every other reader expect of a self-extracting file: no offset needs
// adjusting. The entries look as the installer's payload always has: made
// by version 2.0 on MS-DOS, needing 2.0, no flags, external attributes
// 0x20 (archive), the DOS date and time of each file's modification (local
// time), no extra fields and no comments.
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Record signatures and fixed fields of the ZIP format (APPNOTE 4.3).
constexpr uint32_t kLocalHeaderSignature = 0x04034B50;
constexpr uint32_t kCentralHeaderSignature = 0x02014B50;
constexpr uint32_t kEndRecordSignature = 0x06054B50;
constexpr uint16_t kVersion20 = 20;          // 2.0: Deflate
constexpr uint16_t kMadeByMsDos20 = 0x0014;  // high byte 0: MS-DOS
constexpr uint16_t kMethodDeflate = 8;
constexpr uint32_t kAttributeArchive = 0x20;

[[noreturn]] void Fail(const std::string& message) { throw std::runtime_error(message); }

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail("cannot read " + path + ": " + std::strerror(errno));
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string BareName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

class Writer {
 public:
  void U16(uint32_t value) {
    bytes.push_back(static_cast<uint8_t>(value));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
  }
  void U32(uint32_t value) {
    U16(value & 0xFFFF);
    U16(value >> 16);
  }
  void Bytes(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    bytes.insert(bytes.end(), p, p + size);
  }
  // The current length as a 32-bit ZIP offset.
  uint32_t Offset() const {
    if (bytes.size() > UINT32_MAX) Fail("the installer would pass 4 GiB");
    return static_cast<uint32_t>(bytes.size());
  }
  std::vector<uint8_t> bytes;
};

// Raw Deflate (no zlib header), as ZIP method 8 stores it.
std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    Fail("deflateInit2 failed");
  }
  std::vector<uint8_t> out(deflateBound(&stream, data.size()));
  stream.next_in = const_cast<Bytef*>(data.data());
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) Fail("deflate failed");
  return out;
}

struct DosStamp {
  uint16_t date = 0;
  uint16_t time = 0;
};

// MS-DOS dates start in 1980; older files get its first day.
DosStamp DosStampOf(time_t when) {
  struct tm local {};
  localtime_r(&when, &local);
  if (local.tm_year < 80) return {(0 << 9) | (1 << 5) | 1, 0};
  if (local.tm_year > 207) local.tm_year = 207;
  DosStamp stamp;
  stamp.date = static_cast<uint16_t>((local.tm_year - 80) << 9 | (local.tm_mon + 1) << 5 |
                                     local.tm_mday);
  stamp.time =
      static_cast<uint16_t>(local.tm_hour << 11 | local.tm_min << 5 | local.tm_sec / 2);
  return stamp;
}

struct Entry {
  std::string name;
  DosStamp stamp;
  uint32_t crc = 0;
  uint32_t packed_size = 0;
  uint32_t size = 0;
  uint32_t local_header_offset = 0;
};

// The fields local and central headers share, from version needed on.
void CommonFields(Writer& out, const Entry& entry) {
  out.U16(kVersion20);
  out.U16(0);  // general purpose flags
  out.U16(kMethodDeflate);
  out.U16(entry.stamp.time);
  out.U16(entry.stamp.date);
  out.U32(entry.crc);
  out.U32(entry.packed_size);
  out.U32(entry.size);
  out.U16(static_cast<uint32_t>(entry.name.size()));
  out.U16(0);  // extra field length
}

Entry AddItem(Writer& out, const std::string& path, const std::string& prefix) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) Fail("cannot read " + path + ": " + std::strerror(errno));
  std::vector<uint8_t> data = ReadFile(path);
  std::vector<uint8_t> packed = Deflate(data);
  if (data.size() > UINT32_MAX || packed.size() > UINT32_MAX) Fail(path + " is too large");
  Entry entry;
  entry.name = prefix + BareName(path);
  entry.stamp = DosStampOf(st.st_mtime);
  entry.crc = static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
  entry.packed_size = static_cast<uint32_t>(packed.size());
  entry.size = static_cast<uint32_t>(data.size());
  entry.local_header_offset = out.Offset();
  out.U32(kLocalHeaderSignature);
  CommonFields(out, entry);
  out.Bytes(entry.name.data(), entry.name.size());
  out.Bytes(packed.data(), packed.size());
  return entry;
}

void AddDirectory(Writer& out, const std::vector<Entry>& entries) {
  const uint32_t directory_offset = out.Offset();
  for (const Entry& entry : entries) {
    out.U32(kCentralHeaderSignature);
    out.U16(kMadeByMsDos20);
    CommonFields(out, entry);
    out.U16(0);  // comment length
    out.U16(0);  // disk number start
    out.U16(0);  // internal attributes
    out.U32(kAttributeArchive);
    out.U32(entry.local_header_offset);
    out.Bytes(entry.name.data(), entry.name.size());
  }
  const uint32_t directory_size = out.Offset() - directory_offset;
  out.U32(kEndRecordSignature);
  out.U16(0);  // this disk
  out.U16(0);  // disk of the directory
  out.U16(static_cast<uint32_t>(entries.size()));
  out.U16(static_cast<uint32_t>(entries.size()));
  out.U32(directory_size);
  out.U32(directory_offset);
  out.U16(0);  // comment length
}

// Written beside the target and renamed over it, so a failed run never
// leaves a half-made installer; executable like the program.
void WriteInstaller(const std::string& output, const std::vector<uint8_t>& bytes) {
  const std::string temp = output + ".part";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) Fail("cannot write " + temp + ": " + std::strerror(errno));
  }
  if (::chmod(temp.c_str(), 0755) != 0 || ::rename(temp.c_str(), output.c_str()) != 0) {
    ::unlink(temp.c_str());
    Fail("cannot write " + output + ": " + std::strerror(errno));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: mkinstaller OUTPUT PROGRAM PREFIX FILE...\n");
    return 2;
  }
  try {
    Writer out;
    out.bytes = ReadFile(argv[2]);
    const std::string prefix = argv[3];
    std::vector<Entry> entries;
    for (int i = 4; i < argc; ++i) entries.push_back(AddItem(out, argv[i], prefix));
    if (entries.size() > 0xFFFF) Fail("too many files for one ZIP directory");
    AddDirectory(out, entries);
    WriteInstaller(argv[1], out.bytes);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "mkinstaller: %s\n", error.what());
    return 1;
  }
  return 0;
}
