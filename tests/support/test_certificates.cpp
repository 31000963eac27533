// SPDX-License-Identifier: Apache-2.0
#include "tests/support/test_certificates.h"

#include "tests/support/process_runner.h"

#include <stdexcept>

namespace tarvenkel::test {

namespace {

// EC keys are made in a moment; RSA keys would slow every test start.
const std::vector<std::string> kNewKey = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};

}  // namespace

TestCertificates::TestCertificates() {
  make_ca("ca", "Tarvenkel Test CA");
  make_ca("other-ca", "Untrusted Test CA");
  make_server("server", "ca", "DNS:localhost,IP:127.0.0.1");
  make_server("other-name", "ca", "DNS:mail.example.com");
  make_server("client", "other-ca", "DNS:alarm-client.plant.example", "clientAuth");
  run(Join(Join({"req", "-x509"}, kNewKey), {"-keyout", "self-signed.key", "-out", "self-signed.pem", "-days", "2",
                                             "-subj", "/CN=relay.plant.example", "-addext",
                                             "subjectAltName=DNS:relay.plant.example"}));
}

std::string TestCertificates::Fingerprint(const std::string& certFile) {
  const ProcessResult run = RunProcess({"openssl", "x509", "-noout", "-fingerprint", "-sha256", "-in", certFile});
  if (run.status != 0) throw std::runtime_error("openssl x509 -fingerprint failed: " + run.Describe());
  return run.out.substr(0, run.out.find('\n'));
}

void TestCertificates::run(const std::vector<std::string>& args) {
  const ProcessResult run = RunProcess(Join({"openssl"}, args), {.directory = m_dir.path()});
  if (run.status != 0) throw std::runtime_error("openssl " + args.front() + " failed: " + run.Describe());
}

void TestCertificates::make_ca(const std::string& stem, const std::string& name) {
  run(Join(Join({"req", "-x509"}, kNewKey),
           {"-keyout", stem + ".key", "-out", stem + ".pem", "-days", "2", "-subj", "/CN=" + name, "-addext",
            "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"}));
}

void TestCertificates::make_server(const std::string& stem, const std::string& ca, const std::string& altNames,
                                   const std::string& usage) {
  WriteFile(m_dir.file(stem + ".ext"), "subjectAltName=" + altNames +
                                           "\nbasicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment"
                                           "\nextendedKeyUsage=" + usage + "\n");
  run(Join(Join({"req"}, kNewKey), {"-keyout", stem + ".key", "-out", stem + ".csr", "-subj", "/CN=" + stem}));
  run({"x509", "-req", "-in", stem + ".csr", "-CA", ca + ".pem", "-CAkey", ca + ".key", "-CAcreateserial", "-out",
       stem + ".pem", "-days", "2", "-extfile", stem + ".ext"});
}

}  // namespace tarvenkel::test
