// Traditional ZIP decryption on arbitrary bytes: the first byte is the
// password length (0 ... 15), then the password, four bytes of check value,
// and the rest is an encrypted item. The decrypting stream, TAbZDecoder and
// Inflate through a passphrase must each give a result or their own
// exceptions, and split reads must decrypt as one read does.
//
// Seeds (fuzz/corpus/decrypt_fuzzer): deflated_right and stored_right are
// "hello hello hello fuzz" (raw Deflate, level 9, and stored) encrypted with
// the passwords "pw" and "secret" behind a header whose last byte is the top
// byte of its CRC-32; wrong_password is the deflated item with a zero
// header, offered the password "bad". Made with a small Python encryptor of
// the same cipher.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/base/exceptions.h"
#include "archive/crypt/decrypt_stream.h"
#include "archive/crypt/zdecoder.h"
#include "archive/inflate/inflate.h"

using namespace velmora;

namespace {

void CheckDecryptStream(const std::vector<uint8_t>& item, const std::string& password,
                        uint32_t check) {
  TMemoryStream whole(item), split(item);
  TAbDfDecryptStream a(&whole, password, check), b(&split, password, check);
  bool ok = false;
  try {
    ok = a.VerifyHeader();
  } catch (const EReadError&) {
    return;  // shorter than the header
  }
  if (ok != b.VerifyHeader()) std::abort();
  if (!ok) {
    if (whole.Position() != 0) std::abort();  // back at the header
    return;
  }
  std::vector<uint8_t> one(item.size()), parts(item.size());
  int32_t n = a.Read(one.data(), static_cast<int32_t>(one.size()));
  int32_t got = 0;
  for (int32_t step = 1; got < n; ++step) got += b.Read(parts.data() + got, std::min(step, n - got));
  if (std::memcmp(one.data(), parts.data(), static_cast<size_t>(n)) != 0) std::abort();
}

void CheckZDecoder(const std::vector<uint8_t>& item, const std::string& password, uint32_t check) {
  TMemoryStream source(item);
  TAbZDecoder decoder(password, (check & 1) != 0, check, &source);
  decoder.Attempts = 2;
  int asked = 0;
  decoder.OnNeedPassword = [&](void*, std::string& p) { p += static_cast<char>('a' + asked++); };
  try {
    decoder.CheckHeader();
    std::vector<uint8_t> rest(item.size());
    int32_t n = source.Read(rest.data(), static_cast<int32_t>(rest.size()));
    decoder.DecodeBuffer(rest.data(), n);
  } catch (const EAbZipInvalidPassword&) {
  }
}

void CheckInflate(const std::vector<uint8_t>& item, const std::string& password, uint32_t check) {
  TMemoryStream source(item), dest;
  TAbDeflateHelper helper;
  helper.Passphrase = password;
  helper.PasswordCheckValue = check;
  helper.Options |= dfoTestOnly;
  try {
    Inflate(&source, &dest, &helper);
  } catch (const EAbInflateError&) {
  } catch (const EAbInflatePasswordError&) {
    if (source.Position() != 0) std::abort();
  } catch (const EReadError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  size_t password_length = data[0] % 16;
  if (size < 5 + password_length) return 0;
  std::string password(reinterpret_cast<const char*>(data + 1), password_length);
  if (password.empty()) password = "x";
  uint32_t check;
  std::memcpy(&check, data + 1 + password_length, 4);
  std::vector<uint8_t> item(data + 5 + password_length, data + size);
  CheckDecryptStream(item, password, check);
  CheckZDecoder(item, password, check);
  CheckInflate(item, password, check);
  return 0;
}
