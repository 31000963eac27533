#include "tests/support/test_certificates.h"

#include <cstdlib>
#include <stdexcept>

namespace tarvenkel::test {

namespace {

// EC keys are made in a moment; RSA keys would slow every test start.
const char* const kNewKey = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";

}  // namespace

TestCertificates::TestCertificates() {
  make_ca("ca", "Tarvenkel Test CA");
  make_ca("other-ca", "Untrusted Test CA");
  make_server("server", "ca", "DNS:localhost,IP:127.0.0.1");
  make_server("other-name", "ca", "DNS:mail.example.com");
}

void TestCertificates::run(const std::string& command) {
  std::string line = "cd '" + m_dir.path() + "' && " + command + " >>openssl.log 2>&1";
  if (std::system(line.c_str()) != 0)
    throw std::runtime_error("openssl failed: " + command + "\n" + ReadFile(m_dir.file("openssl.log")));
}

void TestCertificates::make_ca(const std::string& stem, const std::string& name) {
  run("openssl req -x509 " + std::string(kNewKey) + " -keyout " + stem + ".key -out " + stem +
      ".pem -days 2 -subj '/CN=" + name +
      "' -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign");
}

void TestCertificates::make_server(const std::string& stem, const std::string& ca, const std::string& altNames) {
  WriteFile(m_dir.file(stem + ".ext"), "subjectAltName=" + altNames +
                                           "\nbasicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment"
                                           "\nextendedKeyUsage=serverAuth\n");
  run("openssl req " + std::string(kNewKey) + " -keyout " + stem + ".key -out " + stem + ".csr -subj '/CN=" + stem +
      "'");
  run("openssl x509 -req -in " + stem + ".csr -CA " + ca + ".pem -CAkey " + ca + ".key -CAcreateserial -out " + stem + ".pem -days 2 -extfile " + stem + ".ext");
}

}  // namespace tarvenkel::test
