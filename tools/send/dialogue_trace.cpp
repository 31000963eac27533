// SPDX-License-Identifier: Apache-2.0
#include "tools/send/dialogue_trace.h"

#include <tarvenkel/framework/net/socket_trace.h>
#include <tarvenkel/mail/base64.h>

#include <algorithm>
#include <cstdio>

namespace {

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return text;
}

}  // namespace

DialogueTrace::DialogueTrace(const std::string& password) {
  if (!password.empty()) {
    CBase64 encoder;
    m_encodedPassword = encoder.Encode(password.data(), static_cast<int>(password.size())).str();
  }
}

void DialogueTrace::Observe(BOOL bSent, const void* lpBuf, int nLength, void* pContext) {
  auto* self = static_cast<DialogueTrace*>(pContext);
  (bSent ? self->m_client : self->m_server).append(static_cast<const char*>(lpBuf), static_cast<size_t>(nLength));
  self->flush(bSent != FALSE);
}

void DialogueTrace::Finish() {
  if (!m_client.empty()) client_line(m_client);
  if (!m_server.empty()) server_line(m_server);
  m_client.clear();
  m_server.clear();
}

void DialogueTrace::Start() { AfxSetSocketTrace(&DialogueTrace::Observe, this); }

void DialogueTrace::Stop() {
  AfxSetSocketTrace(nullptr, nullptr);
  Finish();
}

void DialogueTrace::flush(bool sent) {
  std::string& pending = sent ? m_client : m_server;
  size_t start = 0, end;
  for (;;) {
    if (sent && m_chunkLeft > 0) {
      const size_t take = std::min<size_t>(m_chunkLeft, pending.size() - start);
      chunk_data(pending.substr(start, take));
      start += take;
      m_chunkLeft -= take;
      if (m_chunkLeft > 0) break;
      continue;
    }
    if ((end = pending.find('\n', start)) == std::string::npos) break;
    std::string line = pending.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (sent)
      client_line(line);
    else
      server_line(line);
    start = end + 1;
  }
  pending.erase(0, start);
}

void DialogueTrace::data_line(const std::string& line) {
  if (++m_dataLines <= kDataLinesShown)
    std::fprintf(stderr, "C: %s\n", line.c_str());
  else
    m_hiddenBytes += line.size() + 2;
}

void DialogueTrace::end_of_data() {
  if (m_dataLines > kDataLinesShown)
    std::fprintf(stderr, "C: [... %ld more lines, %llu bytes of message data not shown]\n",
                 m_dataLines - kDataLinesShown, m_hiddenBytes);
  m_dataLines = 0;
  m_hiddenBytes = 0;
}

void DialogueTrace::chunk_data(const std::string& bytes) {
  m_chunkText += bytes;
  size_t start = 0, end;
  while ((end = m_chunkText.find('\n', start)) != std::string::npos) {
    std::string line = m_chunkText.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    data_line(line);
    start = end + 1;
  }
  m_chunkText.erase(0, start);
  if (m_chunkLeft == bytes.size() && m_lastChunk) {
    if (!m_chunkText.empty()) data_line(m_chunkText);
    m_chunkText.clear();
    end_of_data();
  }
}

void DialogueTrace::client_line(const std::string& line) {
  if (m_inData) {
    if (line == ".") {
      end_of_data();
      std::fprintf(stderr, "C: .\n");
      m_inData = false;
      ++m_commands;
      return;
    }
    data_line(line);
    return;
  }
  ++m_commands;
  std::string command = upper(line);
  unsigned long long chunk = 0;
  if (std::sscanf(command.c_str(), "BDAT %llu", &chunk) == 1) {
    m_chunkLeft = chunk;
    m_lastChunk = command.find(" LAST") != std::string::npos;
  }
  // After AUTH LOGIN the user name comes first and the password last; a line
  // that is the encoded password is masked wherever it turns up.
  bool secret = m_secretLines == 1 || (!m_encodedPassword.empty() && line == m_encodedPassword);
  if (m_secretLines > 0) --m_secretLines;
  if (command == "AUTH LOGIN") {
    m_secretLines = 2;
  } else if (command.compare(0, 11, "AUTH LOGIN ") == 0) {
    m_secretLines = 1;
  } else if (command == "AUTH PLAIN") {
    m_secretLines = 1;
  } else if (command.compare(0, 11, "AUTH PLAIN ") == 0) {
    std::fprintf(stderr, "C: %s ********\n", line.substr(0, 10).c_str());
    return;
  } else if (command.compare(0, 13, "AUTH XOAUTH2 ") == 0 || command.compare(0, 17, "AUTH OAUTHBEARER ") == 0) {
    // The initial response holds the bearer token.
    std::fprintf(stderr, "C: %s ******** (token)\n", line.substr(0, line.find(' ', 5)).c_str());
    return;
  }
  if (command == "DATA") m_dataReply = m_commands;
  std::fprintf(stderr, "C: %s\n", secret ? "******** (password)" : line.c_str());
}

void DialogueTrace::server_line(const std::string& line) {
  const bool last = line.size() < 4 || line[3] != '-';
  // The greeting is reply 0, the reply to the first command reply 1.
  if (last && m_replies++ == m_dataReply && line.compare(0, 3, "354") == 0) {
    m_inData = true;
    m_dataLines = 0;
    m_hiddenBytes = 0;
  }
  std::fprintf(stderr, "S: %s\n", line.c_str());
}
