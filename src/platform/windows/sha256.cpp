// SHA-256 on Windows through CNG's hash objects (bcrypt.dll).
#include "../sha256.h"

// <bcrypt.h> needs <windows.h> before it.
#include "../win32.h"
#include <bcrypt.h>

struct Sha256Context {
  BCRYPT_ALG_HANDLE algorithm;
  BCRYPT_HASH_HANDLE hash;
  bool failed;
};

namespace {

void Release(Sha256Context* context) {
  if (context->hash != nullptr) BCryptDestroyHash(context->hash);
  BCryptCloseAlgorithmProvider(context->algorithm, 0);
  delete context;
}

}  // namespace

Sha256Context* StartSha256() {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    return nullptr;
  }
  Sha256Context* context = new Sha256Context{algorithm, nullptr, false};
  // CNG keeps the hash object's memory itself when it is given no buffer.
  if (!BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &context->hash, nullptr, 0, nullptr, 0, 0))) {
    context->hash = nullptr;
    Release(context);
    return nullptr;
  }
  return context;
}

void AddToSha256(Sha256Context* context, const uint8_t* bytes, size_t count) {
  if (context == nullptr || count == 0) return;
  PUCHAR input = const_cast<PUCHAR>(bytes);
  if (!BCRYPT_SUCCESS(BCryptHashData(context->hash, input, static_cast<ULONG>(count), 0))) {
    context->failed = true;
  }
}

bool FinishSha256(Sha256Context* context, uint8_t digest[kSha256Bytes]) {
  if (context == nullptr) return false;
  bool done = !context->failed &&
              BCRYPT_SUCCESS(BCryptFinishHash(context->hash, digest, kSha256Bytes, 0));
  Release(context);
  return done;
}
