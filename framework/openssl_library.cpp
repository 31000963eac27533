// Loads libcrypto and libssl on first use and fills the table of the
// functions the framework calls.
#define TARVENKEL_OPENSSL_LOADER
#include "framework/openssl_library.h"

#include <cstdlib>

#include <dlfcn.h>
#include <openssl/opensslv.h>

namespace tarvenkel::detail {
namespace {

// The libraries of the OpenSSL version the framework was built with.
#define TARVENKEL_OPENSSL_TEXT(x) #x
#define TARVENKEL_OPENSSL_MAJOR_TEXT(x) TARVENKEL_OPENSSL_TEXT(x)
constexpr char kLibcrypto[] = "libcrypto.so." TARVENKEL_OPENSSL_MAJOR_TEXT(OPENSSL_VERSION_MAJOR);
constexpr char kLibssl[] = "libssl.so." TARVENKEL_OPENSSL_MAJOR_TEXT(OPENSSL_VERSION_MAJOR);

struct LoadedOpenSsl {
  OpenSslFunctions functions;
  std::string failure;  // empty when every function was found
};

// The text of the last dlopen or dlsym failure on this thread.
std::string DlFailure() {
  const char* text = ::dlerror();
  return std::string("cannot load OpenSSL: ") + (text != nullptr ? text : "unknown error");
}

// Looks up one function of an open library; FALSE with the reason.
template <typename Function>
bool Find(void* library, const char* name, Function& function, std::string& failure) {
  (void)::dlerror();
  void* symbol = ::dlsym(library, name);
  if (symbol == nullptr) {
    failure = DlFailure();
    return false;
  }
  function = reinterpret_cast<Function>(symbol);
  return true;
}

LoadedOpenSsl Load() {
  LoadedOpenSsl loaded;
  const char* libssl = std::getenv("TARVENKEL_LIBSSL");
  if (libssl == nullptr || *libssl == '\0') libssl = kLibssl;
  // libcrypto first: libssl is built on it.
  void* crypto = ::dlopen(kLibcrypto, RTLD_NOW | RTLD_LOCAL);
  if (crypto == nullptr) {
    loaded.failure = DlFailure();
    return loaded;
  }
  void* ssl = ::dlopen(libssl, RTLD_NOW | RTLD_LOCAL);
  if (ssl == nullptr) {
    loaded.failure = DlFailure();
    ::dlclose(crypto);
    return loaded;
  }
  OpenSslFunctions& f = loaded.functions;
#define TARVENKEL_FIND_IN_CRYPTO(name) &&Find(crypto, #name, f.name, loaded.failure)
#define TARVENKEL_FIND_IN_SSL(name) &&Find(ssl, #name, f.name, loaded.failure)
  const bool found = true TARVENKEL_LIBCRYPTO_FUNCTIONS(TARVENKEL_FIND_IN_CRYPTO)
      TARVENKEL_LIBSSL_FUNCTIONS(TARVENKEL_FIND_IN_SSL);
#undef TARVENKEL_FIND_IN_CRYPTO
#undef TARVENKEL_FIND_IN_SSL
  if (!found) {
    f = OpenSslFunctions();
    ::dlclose(ssl);
    ::dlclose(crypto);
  }
  return loaded;
}

// Loaded once per process; the initialisation of a function-local static is
// thread-safe, and every later caller sees the same outcome.
const LoadedOpenSsl& Loaded() {
  static const LoadedOpenSsl loaded = Load();
  return loaded;
}

}  // namespace

bool LoadOpenSsl(std::string& sReason) {
  const LoadedOpenSsl& loaded = Loaded();
  if (loaded.failure.empty()) return true;
  sReason = loaded.failure;
  return false;
}

const OpenSslFunctions& Ssl() { return Loaded().functions; }

}  // namespace tarvenkel::detail
