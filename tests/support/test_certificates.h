// Certificates for TLS tests, made with the openssl command when the object
// is built: a test CA, a server certificate it signed for localhost and
// 127.0.0.1, one it signed for another name only, and a second CA that
// signed nothing the servers use.
#pragma once

#include "tests/support/test_paths.h"

#include <string>
#include <vector>

namespace tarvenkel::test {

class TestCertificates {
public:
  // Throws std::runtime_error when openssl fails.
  TestCertificates();

  // PEM files.
  std::string CAFile() const { return m_dir.file("ca.pem"); }
  std::string OtherCAFile() const { return m_dir.file("other-ca.pem"); }
  std::string ServerCert() const { return m_dir.file("server.pem"); }
  std::string ServerKey() const { return m_dir.file("server.key"); }
  // Issued for mail.example.com alone.
  std::string OtherNameCert() const { return m_dir.file("other-name.pem"); }
  std::string OtherNameKey() const { return m_dir.file("other-name.key"); }

private:
  // A CA certificate and key named stem.pem and stem.key.
  void make_ca(const std::string& stem, const std::string& name);
  // A server certificate signed by the CA ca, for the subjectAltName list.
  void make_server(const std::string& stem, const std::string& ca, const std::string& altNames);
  // Runs openssl with the arguments in the certificates' folder.
  void run(const std::vector<std::string>& args);

  TempDir m_dir;
};

}  // namespace tarvenkel::test
