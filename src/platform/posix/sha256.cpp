// SHA-256 on POSIX through OpenSSL's EVP interface. libcrypto is opened on the first digest, not
// linked: loading it at start-up costs every run several milliseconds, digest or not.
#include "../sha256.h"

#include <dlfcn.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#define PENTREL_TEXT(x) #x
#define PENTREL_SONAME(major) "libcrypto.so." PENTREL_TEXT(major)

namespace {

struct Crypto {
  decltype(&EVP_MD_CTX_new) newContext;
  decltype(&EVP_MD_CTX_free) freeContext;
  decltype(&EVP_sha256) sha256;
  decltype(&EVP_DigestInit_ex) init;
  decltype(&EVP_DigestUpdate) update;
  decltype(&EVP_DigestFinal_ex) final;
};

template <typename F>
bool Find(void* library, const char* name, F& function) {
  function = reinterpret_cast<F>(dlsym(library, name));
  return function != nullptr;
}

// The library's functions, or null when it cannot be opened; kept for the process's life. Its own
// clean-up at exit is turned off: the process is ending anyway, and that clean-up drops the state
// of a thread that is still ending (the run's worker, which took the digest), which then counts as
// lost memory.
const Crypto* Library() {
  static const Crypto* loaded = []() -> const Crypto* {
    static Crypto crypto;
    void* library = dlopen(PENTREL_SONAME(OPENSSL_VERSION_MAJOR), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return nullptr;
    decltype(&OPENSSL_init_crypto) initialise;
    bool found = Find(library, "OPENSSL_init_crypto", initialise) &&
                 initialise(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1 &&
                 Find(library, "EVP_MD_CTX_new", crypto.newContext) &&
                 Find(library, "EVP_MD_CTX_free", crypto.freeContext) &&
                 Find(library, "EVP_sha256", crypto.sha256) &&
                 Find(library, "EVP_DigestInit_ex", crypto.init) &&
                 Find(library, "EVP_DigestUpdate", crypto.update) &&
                 Find(library, "EVP_DigestFinal_ex", crypto.final);
    return found ? &crypto : nullptr;
  }();
  return loaded;
}

}  // namespace

struct Sha256Context {
  EVP_MD_CTX* evp;
  bool failed;
};

Sha256Context* StartSha256() {
  const Crypto* crypto = Library();
  if (crypto == nullptr) return nullptr;
  EVP_MD_CTX* evp = crypto->newContext();
  if (evp == nullptr) return nullptr;
  if (crypto->init(evp, crypto->sha256(), nullptr) != 1) {
    crypto->freeContext(evp);
    return nullptr;
  }
  return new Sha256Context{evp, false};
}

void AddToSha256(Sha256Context* context, const uint8_t* bytes, size_t count) {
  if (context == nullptr || count == 0) return;
  if (Library()->update(context->evp, bytes, count) != 1) context->failed = true;
}

bool FinishSha256(Sha256Context* context, uint8_t digest[kSha256Bytes]) {
  if (context == nullptr) return false;
  const Crypto* crypto = Library();
  unsigned int length = 0;
  bool done = !context->failed && crypto->final(context->evp, digest, &length) == 1 &&
              length == kSha256Bytes;
  crypto->freeContext(context->evp);
  delete context;
  return done;
}
