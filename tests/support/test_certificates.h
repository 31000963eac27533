// SPDX-License-Identifier: Apache-2.0
// Certificates for TLS tests, made with the openssl command when the object
// is built: a test CA, a server certificate it signed for localhost and
// 127.0.0.1, one it signed for another name only, a self-signed server
// certificate, and a second CA that signed nothing the servers use but a
// client certificate.
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
  // Self-signed, for relay.plant.example alone.
  std::string SelfSignedCert() const { return m_dir.file("self-signed.pem"); }
  std::string SelfSignedKey() const { return m_dir.file("self-signed.key"); }
  // A client certificate signed by the second CA, and its key.
  std::string ClientCert() const { return m_dir.file("client.pem"); }
  std::string ClientKey() const { return m_dir.file("client.key"); }
  // What "openssl x509 -noout -fingerprint -sha256" prints for the PEM file,
  // without the line end: "sha256 Fingerprint=AB:CD:...".
  static std::string Fingerprint(const std::string& certFile);

private:
  // A CA certificate and key named stem.pem and stem.key.
  void make_ca(const std::string& stem, const std::string& name);
  // A certificate signed by the CA ca, for the subjectAltName list, a server's
  // or (usage "clientAuth") a client's.
  void make_server(const std::string& stem, const std::string& ca, const std::string& altNames,
                   const std::string& usage = "serverAuth");
  // Runs openssl with the arguments in the certificates' folder.
  void run(const std::vector<std::string>& args);

  TempDir m_dir;
};

}  // namespace tarvenkel::test
