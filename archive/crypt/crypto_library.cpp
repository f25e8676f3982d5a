#include "archive/crypt/crypto_library.h"

#include <dlfcn.h>
#include <openssl/opensslv.h>

#include <optional>
#include <string>

#include "archive/crypt/winzip_aes.h"

namespace velmora {

namespace {

// The major version we were built against names the ABI: libcrypto.so.3.
const std::string& LibraryName() {
  static const std::string name = "libcrypto.so." + std::to_string(OPENSSL_VERSION_MAJOR);
  return name;
}

struct Loaded {
  std::optional<TAbCryptoLibrary> functions;
  std::string error;  // why not, when functions is empty
};

template <typename Function>
bool Bind(void* handle, const char* name, Function& function, std::string& error) {
  void* symbol = ::dlsym(handle, name);
  if (symbol == nullptr) {
    error = LibraryName() + " has no " + name;
    return false;
  }
  function = reinterpret_cast<Function>(symbol);
  return true;
}

Loaded Load() {
  Loaded loaded;
  // Kept open for the life of the process, as a linked library would be.
  void* handle = ::dlopen(LibraryName().c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* why = ::dlerror();
    loaded.error = why != nullptr ? why : LibraryName();
    return loaded;
  }
  TAbCryptoLibrary f{};
  std::string& e = loaded.error;
  const bool all =
      Bind(handle, "PKCS5_PBKDF2_HMAC_SHA1", f.PBKDF2_HMAC_SHA1, e) &&
      Bind(handle, "CRYPTO_memcmp", f.memcmp, e) && Bind(handle, "OPENSSL_cleanse", f.cleanse, e) &&
      Bind(handle, "EVP_CIPHER_CTX_new", f.CIPHER_CTX_new, e) &&
      Bind(handle, "EVP_CIPHER_CTX_free", f.CIPHER_CTX_free, e) &&
      Bind(handle, "EVP_CIPHER_CTX_set_padding", f.CIPHER_CTX_set_padding, e) &&
      Bind(handle, "EVP_aes_128_ecb", f.aes_128_ecb, e) &&
      Bind(handle, "EVP_aes_192_ecb", f.aes_192_ecb, e) &&
      Bind(handle, "EVP_aes_256_ecb", f.aes_256_ecb, e) &&
      Bind(handle, "EVP_EncryptInit_ex", f.EncryptInit_ex, e) &&
      Bind(handle, "EVP_EncryptUpdate", f.EncryptUpdate, e) &&
      Bind(handle, "EVP_MAC_fetch", f.MAC_fetch, e) && Bind(handle, "EVP_MAC_free", f.MAC_free, e) &&
      Bind(handle, "EVP_MAC_CTX_new", f.MAC_CTX_new, e) &&
      Bind(handle, "EVP_MAC_CTX_free", f.MAC_CTX_free, e) &&
      Bind(handle, "EVP_MAC_init", f.MAC_init, e) &&
      Bind(handle, "EVP_MAC_update", f.MAC_update, e) &&
      Bind(handle, "EVP_MAC_final", f.MAC_final, e) &&
      Bind(handle, "OSSL_PARAM_construct_utf8_string", f.PARAM_construct_utf8_string, e);
  if (all) loaded.functions = f;
  return loaded;
}

}  // namespace

const TAbCryptoLibrary& CryptoLibrary() {
  static const Loaded loaded = Load();
  if (!loaded.functions) {
    throw EAbWinZipAesError("WinZip AES decryption needs OpenSSL's " + LibraryName() +
                            " (Debian package libssl3), which could not be loaded: " +
                            loaded.error);
  }
  return *loaded.functions;
}

}  // namespace velmora
