// SHA-256 from the system's own library: OpenSSL's libcrypto on POSIX, CNG (bcrypt.dll) on
// Windows. Used only when a result's digest is asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct Sha256Context;

constexpr size_t kSha256Bytes = 32;

// A new digest, or null when the library cannot make one.
Sha256Context* StartSha256();

// Adds count bytes; a null context is ignored.
void AddToSha256(Sha256Context* context, const uint8_t* bytes, size_t count);

// The digest of everything added; false when the library failed or context is null. Frees the
// context either way.
bool FinishSha256(Sha256Context* context, uint8_t digest[kSha256Bytes]);

// The digest as 64 lowercase hex digits, or empty when there is none.
inline std::string FinishSha256Hex(Sha256Context* context) {
  uint8_t digest[kSha256Bytes];
  if (!FinishSha256(context, digest)) return "";
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t byte : digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}
