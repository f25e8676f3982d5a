// OpenSSL's libcrypto, loaded at run time by the first WinZip AES item that
// needs it. Loading it at start-up costs every run about 1.4 MB of resident
// memory (its relocations and initialisers), though nearly no archive
// holds AES items; an archive that does pays once.
#pragma once

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

namespace velmora {

// The functions WinZip AES uses, under their OpenSSL names without the
// prefix.
struct TAbCryptoLibrary {
  decltype(&::PKCS5_PBKDF2_HMAC_SHA1) PBKDF2_HMAC_SHA1;
  decltype(&::CRYPTO_memcmp) memcmp;
  decltype(&::OPENSSL_cleanse) cleanse;
  decltype(&::EVP_CIPHER_CTX_new) CIPHER_CTX_new;
  decltype(&::EVP_CIPHER_CTX_free) CIPHER_CTX_free;
  decltype(&::EVP_CIPHER_CTX_set_padding) CIPHER_CTX_set_padding;
  decltype(&::EVP_aes_128_ecb) aes_128_ecb;
  decltype(&::EVP_aes_192_ecb) aes_192_ecb;
  decltype(&::EVP_aes_256_ecb) aes_256_ecb;
  decltype(&::EVP_EncryptInit_ex) EncryptInit_ex;
  decltype(&::EVP_EncryptUpdate) EncryptUpdate;
  decltype(&::EVP_MAC_fetch) MAC_fetch;
  decltype(&::EVP_MAC_free) MAC_free;
  decltype(&::EVP_MAC_CTX_new) MAC_CTX_new;
  decltype(&::EVP_MAC_CTX_free) MAC_CTX_free;
  decltype(&::EVP_MAC_init) MAC_init;
  decltype(&::EVP_MAC_update) MAC_update;
  decltype(&::EVP_MAC_final) MAC_final;
  decltype(&::OSSL_PARAM_construct_utf8_string) PARAM_construct_utf8_string;
};

// Loads the library at the first call (thread-safe) and returns its
// functions; raises EAbWinZipAesError, naming the library and why, when it
// cannot be loaded.
const TAbCryptoLibrary& CryptoLibrary();

}  // namespace velmora
