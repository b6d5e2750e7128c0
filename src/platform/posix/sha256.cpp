// SHA-256 on POSIX through OpenSSL's EVP interface.
#include "../sha256.h"

#include <openssl/evp.h>

struct Sha256Context {
  EVP_MD_CTX* evp;
  bool failed;
};

Sha256Context* StartSha256() {
  EVP_MD_CTX* evp = EVP_MD_CTX_new();
  if (evp == nullptr) return nullptr;
  if (EVP_DigestInit_ex(evp, EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(evp);
    return nullptr;
  }
  return new Sha256Context{evp, false};
}

void AddToSha256(Sha256Context* context, const uint8_t* bytes, size_t count) {
  if (context == nullptr || count == 0) return;
  if (EVP_DigestUpdate(context->evp, bytes, count) != 1) context->failed = true;
}

bool FinishSha256(Sha256Context* context, uint8_t digest[kSha256Bytes]) {
  if (context == nullptr) return false;
  unsigned int length = 0;
  bool done = !context->failed && EVP_DigestFinal_ex(context->evp, digest, &length) == 1 &&
              length == kSha256Bytes;
  EVP_MD_CTX_free(context->evp);
  delete context;
  return done;
}
