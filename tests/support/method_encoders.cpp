#include "tests/support/method_encoders.h"

#include <bzlib.h>
#include <lzma.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <zlib.h>
#include <zstd.h>

#include <iterator>
#include <stdexcept>
#include <string>

#include "tests/support/zip_writer.h"

namespace velmora::testing {

std::vector<uint8_t> Bzip2Compress(const std::vector<uint8_t>& data) {
  auto size = static_cast<unsigned>(data.size() + data.size() / 100 + 600);
  std::vector<uint8_t> out(size);
  char none = 0;  // libbz2 takes no null source, even for no bytes
  char* source =
      data.empty() ? &none : const_cast<char*>(reinterpret_cast<const char*>(data.data()));
  if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &size, source,
                               static_cast<unsigned>(data.size()), 9, 0, 0) != BZ_OK) {
    throw std::runtime_error("bzip2 compression failed");
  }
  out.resize(size);
  return out;
}

std::vector<uint8_t> LzmaZipCompress(const std::vector<uint8_t>& data, bool end_marker) {
  lzma_options_lzma options;
  lzma_lzma_preset(&options, 6);
  options.dict_size = 1 << 16;
  // LZMA1 always writes the end marker; LZMA1EXT only when asked.
  options.ext_flags = end_marker ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream s = LZMA_STREAM_INIT;
  if (lzma_raw_encoder(&s, filters) != LZMA_OK) throw std::runtime_error("LZMA setup failed");
  std::vector<uint8_t> out(data.size() + data.size() / 2 + 1024);
  s.next_in = data.data();
  s.avail_in = data.size();
  s.next_out = out.data();
  s.avail_out = out.size();
  const lzma_ret rc = lzma_code(&s, LZMA_FINISH);
  const size_t packed = out.size() - s.avail_out;
  lzma_end(&s);
  if (rc != LZMA_STREAM_END) throw std::runtime_error("LZMA compression failed");
  out.resize(packed);
  // Version 9.20, 5 bytes of properties: (pb * 5 + lp) * 9 + lc, dictionary.
  std::vector<uint8_t> header = {
      9, 20, 5, 0, static_cast<uint8_t>((options.pb * 5 + options.lp) * 9 + options.lc)};
  for (int i = 0; i < 4; ++i) header.push_back(static_cast<uint8_t>(options.dict_size >> (8 * i)));
  header.insert(header.end(), out.begin(), out.end());
  return header;
}

std::vector<uint8_t> XzCompress(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out(lzma_stream_buffer_bound(data.size()));
  size_t pos = 0;
  if (lzma_easy_buffer_encode(6, LZMA_CHECK_CRC64, nullptr, data.data(), data.size(), out.data(),
                              &pos, out.size()) != LZMA_OK) {
    throw std::runtime_error("xz compression failed");
  }
  out.resize(pos);
  return out;
}

std::vector<uint8_t> ZstdCompress(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out(ZSTD_compressBound(data.size()));
  const size_t n = ZSTD_compress(out.data(), out.size(), data.data(), data.size(), 3);
  if (ZSTD_isError(n)) throw std::runtime_error("zstd compression failed");
  out.resize(n);
  return out;
}

std::vector<uint8_t> WinZipAesEncrypt(const std::vector<uint8_t>& packed,
                                      const std::string& password, uint8_t strength,
                                      uint8_t salt_seed) {
  const size_t key = 8 + 8 * strength;  // 16, 24, 32
  std::vector<uint8_t> salt(key / 2);
  for (size_t i = 0; i < salt.size(); ++i) salt[i] = static_cast<uint8_t>(salt_seed + 31 * i);
  std::vector<uint8_t> keys(2 * key + 2);
  PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()), salt.data(),
                         static_cast<int>(salt.size()), 1000, static_cast<int>(keys.size()),
                         keys.data());
  std::vector<uint8_t> data = packed;
  const EVP_CIPHER* cipher = strength == 1   ? EVP_aes_128_ecb()
                             : strength == 2 ? EVP_aes_192_ecb()
                                             : EVP_aes_256_ecb();
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ctx, cipher, nullptr, keys.data(), nullptr);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  // One block at a time, the counter little-endian from 1: slow and plain,
  // unlike the engine's batches.
  for (size_t at = 0; at < data.size(); at += 16) {
    uint8_t counter[16] = {}, stream[16];
    uint64_t n = at / 16 + 1;
    for (int i = 0; i < 8; ++i, n >>= 8) counter[i] = static_cast<uint8_t>(n);
    int len = 0;
    EVP_EncryptUpdate(ctx, stream, &len, counter, 16);
    for (size_t i = 0; i < 16 && at + i < data.size(); ++i) data[at + i] ^= stream[i];
  }
  EVP_CIPHER_CTX_free(ctx);
  uint8_t code[20];
  unsigned code_size = 0;
  HMAC(EVP_sha1(), keys.data() + key, static_cast<int>(key), data.data(), data.size(), code,
       &code_size);
  std::vector<uint8_t> out = salt;
  out.insert(out.end(), keys.begin() + 2 * static_cast<long>(key), keys.end());
  out.insert(out.end(), data.begin(), data.end());
  out.insert(out.end(), code, code + 10);
  return out;
}

std::vector<uint8_t> TraditionalEncrypt(std::vector<uint8_t> plain, const std::string& password) {
  const z_crc_t* table = get_crc_table();
  auto crc_byte = [table](uint32_t crc, uint8_t byte) {
    return table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
  };
  uint32_t k0 = 0x12345678, k1 = 0x23456789, k2 = 0x34567890;
  auto update = [&](uint8_t byte) {
    k0 = crc_byte(k0, byte);
    k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
    k2 = crc_byte(k2, static_cast<uint8_t>(k1 >> 24));
  };
  for (char c : password) update(static_cast<uint8_t>(c));
  for (uint8_t& byte : plain) {
    const uint32_t t = (k2 & 0xFFFF) | 2;
    const uint8_t plain_byte = byte;
    byte = static_cast<uint8_t>(plain_byte ^ static_cast<uint8_t>((t * (t ^ 1)) >> 8));
    update(plain_byte);
  }
  return plain;
}

std::string WinZipAesExtraField(uint16_t version, uint8_t strength, uint16_t method) {
  const char field[] = {1,
                        static_cast<char>(0x99),
                        7,
                        0,
                        static_cast<char>(version),
                        static_cast<char>(version >> 8),
                        'A',
                        'E',
                        static_cast<char>(strength),
                        static_cast<char>(method),
                        static_cast<char>(method >> 8)};
  return std::string(field, sizeof field);
}

std::vector<uint8_t> MethodItemZip(const std::string& name, const std::vector<uint8_t>& plain,
                                   uint16_t method, const std::vector<uint8_t>& packed,
                                   const std::string& extra, uint16_t flags,
                                   std::optional<uint32_t> crc) {
  return MethodItemZipDeclaring(name, static_cast<uint32_t>(plain.size()),
                                crc.value_or(Crc32Of(plain)), method, packed, extra, flags);
}

std::vector<uint8_t> MethodItemZipDeclaring(const std::string& name, uint32_t unpacked_size,
                                            uint32_t crc, uint16_t method,
                                            const std::vector<uint8_t>& packed,
                                            const std::string& extra, uint16_t flags) {
  // The writer stores the bytes as given and takes their length for both
  // sizes; the method and the real size go in afterwards.
  ZipImage zip = BuildZip({{.name = name,
                            .data = packed,
                            .version_needed = 63,
                            .flags = flags,
                            .local_extra = extra,
                            .central_extra = extra,
                            .crc = crc}});
  auto put = [&](size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) zip.bytes.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
  };
  const size_t local = zip.local_header_positions[0], central = zip.central_header_positions[0];
  put(local + 8, method, 2);  // local header: method at 8, uncompressed size at 22
  put(local + 22, unpacked_size, 4);
  put(central + 10, method, 2);  // central header: method at 10, uncompressed size at 24
  put(central + 24, unpacked_size, 4);
  return zip.bytes;
}

std::vector<uint8_t> NumberedLines(int count) {
  std::string text;
  for (int i = 1; i <= count; ++i) text += "line " + std::to_string(i) + " of the sample\n";
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> VariedText(size_t size, uint32_t seed) {
  static const char* const kWords[] = {"archive", "block", "stream", "the", "of", "printer",
                                       "server", "a", "item", "folder", "driver", "and"};
  std::vector<uint8_t> text;
  text.reserve(size + 16);
  uint32_t state = seed;
  while (text.size() < size) {
    state = state * 1103515245u + 12345u;  // the C library's old rand()
    const uint32_t draw = state >> 8;
    const char* word = kWords[draw % std::size(kWords)];
    text.insert(text.end(), word, word + std::char_traits<char>::length(word));
    if (draw % 7 == 0) text.push_back(static_cast<uint8_t>('0' + draw % 10));
    text.push_back(draw % 13 == 0 ? '\n' : ' ');
  }
  text.resize(size);
  return text;
}

}  // namespace velmora::testing
