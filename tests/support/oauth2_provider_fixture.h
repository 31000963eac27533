// SPDX-License-Identifier: Apache-2.0
// A test against the OAuth2 provider written for the tests
// (tests/tools/oauth2_provider.py: HTTPS on 127.0.0.1 with the test CA,
// every token request logged as one JSON line), with a scratch folder that
// holds its log and the token store. For tests that link the token store of
// tarvenkel-send.
#pragma once

#include "tests/support/port_service.h"
#include "tests/support/process_runner.h"
#include "tests/support/test_certificates.h"
#include "tests/support/test_paths.h"
#include "tools/send/token_store.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace tarvenkel::test {

class OAuth2ProviderTest : public ::testing::Test {
protected:
  // Starts the provider with the given options (after the certificate and log ones).
  void StartProvider(const std::vector<std::string>& options) {
    m_provider = std::make_unique<PortService>(
        Join({SystemPython(), SourcePath("tests/tools/oauth2_provider.py"), "--cert", m_certs.ServerCert(), "--key",
              m_certs.ServerKey(), "--log", m_dir.file("provider.log")},
             options),
        m_dir.file("provider.err"));
  }
  // The URL of the provider's endpoint at path; a closed port's when no
  // provider runs.
  std::string Endpoint(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(m_provider ? m_provider->port() : 1) + path;
  }
  // Writes the token store of the scratch folder: the refresh token, and an
  // access token that expires in expiresIn seconds.
  void Store(const std::string& refresh, const std::string& access, long expiresIn) {
    std::string error;
    ASSERT_TRUE(WriteTokenStore(m_dir.file("tokens.json"), {refresh, access, std::time(nullptr) + expiresIn}, error))
        << error;
  }
  // The token requests the provider has seen.
  int ProviderRequests() const {
    std::ifstream log(m_dir.file("provider.log"));
    int count = 0;
    for (std::string line; std::getline(log, line);) ++count;
    return count;
  }

  TestCertificates m_certs;
  TempDir m_dir;
  std::unique_ptr<PortService> m_provider;
};

}  // namespace tarvenkel::test
