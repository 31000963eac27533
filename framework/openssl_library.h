// OpenSSL, loaded when the first connection starts TLS instead of when the
// framework is loaded: most hosts never use TLS, and mapping and relocating
// libcrypto and libssl at start-up costs every one of them memory and time.
//
// Include this after OpenSSL's own headers and only in the file that uses
// OpenSSL (tls_socket.cpp). OpenSSL's headers still give the types,
// constants and macros; the macros at the end of this header send each
// function call, including those that OpenSSL's macros expand to (SSL_ctrl,
// BIO_set_flags, ...), through the table loaded here, so that the framework
// binds to no OpenSSL symbol when it is linked. Call LoadOpenSsl() and see
// it succeed before any of them.
//
// The environment variable TARVENKEL_LIBSSL, when set, names the libssl to
// load instead of the one of the OpenSSL version the framework was built
// with; the tests use it to see how TLS fails when libssl cannot be loaded.
#pragma once

#include <string>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

// The functions of libcrypto the framework calls, as X(name).
#define TARVENKEL_LIBCRYPTO_FUNCTIONS(X) \
  X(BIO_clear_flags)                     \
  X(BIO_get_data)                        \
  X(BIO_get_new_index)                   \
  X(BIO_meth_new)                        \
  X(BIO_meth_set_create)                 \
  X(BIO_meth_set_ctrl)                   \
  X(BIO_meth_set_read_ex)                \
  X(BIO_meth_set_write_ex)               \
  X(BIO_new)                             \
  X(BIO_set_data)                        \
  X(BIO_set_flags)                       \
  X(BIO_set_init)                        \
  X(ERR_clear_error)                     \
  X(ERR_error_string_n)                  \
  X(ERR_get_error)                       \
  X(ERR_reason_error_string)             \
  X(X509_VERIFY_PARAM_set1_host)         \
  X(X509_VERIFY_PARAM_set1_ip_asc)       \
  X(X509_VERIFY_PARAM_set_hostflags)     \
  X(X509_verify_cert_error_string)

// The functions of libssl the framework calls, as X(name).
#define TARVENKEL_LIBSSL_FUNCTIONS(X)     \
  X(SSL_CTX_ctrl)                         \
  X(SSL_CTX_free)                         \
  X(SSL_CTX_load_verify_locations)        \
  X(SSL_CTX_new)                          \
  X(SSL_CTX_set_default_verify_paths)     \
  X(SSL_CTX_set_options)                  \
  X(SSL_connect)                          \
  X(SSL_ctrl)                             \
  X(SSL_free)                             \
  X(SSL_get0_param)                       \
  X(SSL_get_error)                        \
  X(SSL_get_verify_result)                \
  X(SSL_new)                              \
  X(SSL_read_ex)                          \
  X(SSL_set_bio)                          \
  X(SSL_set_connect_state)                \
  X(SSL_set_verify)                       \
  X(SSL_shutdown)                         \
  X(SSL_write_ex)                         \
  X(TLS_client_method)

namespace tarvenkel::detail {

// Pointers to the OpenSSL functions the framework calls, each of the type
// OpenSSL's header declares for it.
struct OpenSslFunctions {
#define TARVENKEL_OPENSSL_POINTER(name) decltype(&::name) name = nullptr;
  TARVENKEL_LIBCRYPTO_FUNCTIONS(TARVENKEL_OPENSSL_POINTER)
  TARVENKEL_LIBSSL_FUNCTIONS(TARVENKEL_OPENSSL_POINTER)
#undef TARVENKEL_OPENSSL_POINTER
};

// Loads libcrypto, then libssl, and looks up every function, the first time
// it is called in the process (from any thread; later calls wait for the
// first). TRUE when all were found; otherwise FALSE, and sReason says what
// could not be loaded, the same on every call: the process does not try
// again.
bool LoadOpenSsl(std::string& sReason);

// The loaded functions. Only after LoadOpenSsl returned TRUE.
const OpenSslFunctions& Ssl();

}  // namespace tarvenkel::detail

// Every call below goes through the loaded table; the loader itself, which
// fills the table, defines TARVENKEL_OPENSSL_LOADER to see the names as they
// are.
#ifndef TARVENKEL_OPENSSL_LOADER
#define BIO_clear_flags (::tarvenkel::detail::Ssl().BIO_clear_flags)
#define BIO_get_data (::tarvenkel::detail::Ssl().BIO_get_data)
#define BIO_get_new_index (::tarvenkel::detail::Ssl().BIO_get_new_index)
#define BIO_meth_new (::tarvenkel::detail::Ssl().BIO_meth_new)
#define BIO_meth_set_create (::tarvenkel::detail::Ssl().BIO_meth_set_create)
#define BIO_meth_set_ctrl (::tarvenkel::detail::Ssl().BIO_meth_set_ctrl)
#define BIO_meth_set_read_ex (::tarvenkel::detail::Ssl().BIO_meth_set_read_ex)
#define BIO_meth_set_write_ex (::tarvenkel::detail::Ssl().BIO_meth_set_write_ex)
#define BIO_new (::tarvenkel::detail::Ssl().BIO_new)
#define BIO_set_data (::tarvenkel::detail::Ssl().BIO_set_data)
#define BIO_set_flags (::tarvenkel::detail::Ssl().BIO_set_flags)
#define BIO_set_init (::tarvenkel::detail::Ssl().BIO_set_init)
#define ERR_clear_error (::tarvenkel::detail::Ssl().ERR_clear_error)
#define ERR_error_string_n (::tarvenkel::detail::Ssl().ERR_error_string_n)
#define ERR_get_error (::tarvenkel::detail::Ssl().ERR_get_error)
#define ERR_reason_error_string (::tarvenkel::detail::Ssl().ERR_reason_error_string)
#define X509_VERIFY_PARAM_set1_host (::tarvenkel::detail::Ssl().X509_VERIFY_PARAM_set1_host)
#define X509_VERIFY_PARAM_set1_ip_asc (::tarvenkel::detail::Ssl().X509_VERIFY_PARAM_set1_ip_asc)
#define X509_VERIFY_PARAM_set_hostflags (::tarvenkel::detail::Ssl().X509_VERIFY_PARAM_set_hostflags)
#define X509_verify_cert_error_string (::tarvenkel::detail::Ssl().X509_verify_cert_error_string)
#define SSL_CTX_ctrl (::tarvenkel::detail::Ssl().SSL_CTX_ctrl)
#define SSL_CTX_free (::tarvenkel::detail::Ssl().SSL_CTX_free)
#define SSL_CTX_load_verify_locations (::tarvenkel::detail::Ssl().SSL_CTX_load_verify_locations)
#define SSL_CTX_new (::tarvenkel::detail::Ssl().SSL_CTX_new)
#define SSL_CTX_set_default_verify_paths (::tarvenkel::detail::Ssl().SSL_CTX_set_default_verify_paths)
#define SSL_CTX_set_options (::tarvenkel::detail::Ssl().SSL_CTX_set_options)
#define SSL_connect (::tarvenkel::detail::Ssl().SSL_connect)
#define SSL_ctrl (::tarvenkel::detail::Ssl().SSL_ctrl)
#define SSL_free (::tarvenkel::detail::Ssl().SSL_free)
#define SSL_get0_param (::tarvenkel::detail::Ssl().SSL_get0_param)
#define SSL_get_error (::tarvenkel::detail::Ssl().SSL_get_error)
#define SSL_get_verify_result (::tarvenkel::detail::Ssl().SSL_get_verify_result)
#define SSL_new (::tarvenkel::detail::Ssl().SSL_new)
#define SSL_read_ex (::tarvenkel::detail::Ssl().SSL_read_ex)
#define SSL_set_bio (::tarvenkel::detail::Ssl().SSL_set_bio)
#define SSL_set_connect_state (::tarvenkel::detail::Ssl().SSL_set_connect_state)
#define SSL_set_verify (::tarvenkel::detail::Ssl().SSL_set_verify)
#define SSL_shutdown (::tarvenkel::detail::Ssl().SSL_shutdown)
#define SSL_write_ex (::tarvenkel::detail::Ssl().SSL_write_ex)
#define TLS_client_method (::tarvenkel::detail::Ssl().TLS_client_method)
#endif
