// SPDX-License-Identifier: Apache-2.0
// A scripted SMTP server on 127.0.0.1 for dialogue tests. Each accepted
// connection plays one script: it sends given replies (split into chosen
// segments), reads the client's command lines and data, and closes, resets or
// falls silent at a chosen step. It records every byte the client sent.
#pragma once

#include <unistd.h>

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarvenkel::test {

// This machine's host name as the client sends it after HELO or EHLO.
inline std::string HostName() {
  char name[80] = {};
  ::gethostname(name, sizeof name - 1);
  return name;
}

class SmtpScript {
public:
  // Sends bytes; a non-empty list of segment sizes splits them into separate
  // writes with a short pause between (the rest goes in a last write).
  SmtpScript& Send(std::string bytes, std::vector<std::size_t> segments = {});
  // Sends bytes in pieces of the given size.
  SmtpScript& SendInPieces(std::string bytes, std::size_t piece);
  // Reads one command line (up to LF).
  SmtpScript& ReadLine();
  // Reads the message data up to and including the CR LF . CR LF line.
  SmtpScript& ReadData();
  // Reads one BDAT command line and the bytes it announces.
  SmtpScript& ReadChunk();
  // Reads BDAT chunks up to the one marked LAST, sending reply after each
  // chunk before that one (the reply to the last is the script's next step).
  SmtpScript& AnswerChunks(std::string reply);
  // Reads one command line, then sends the reply.
  SmtpScript& Reply(std::string bytes) { return ReadLine().Send(std::move(bytes)); }
  // Does nothing for the given time: neither reads nor sends.
  SmtpScript& Pause(int milliseconds);
  // Closes the connection in an orderly way.
  SmtpScript& Close();
  // Resets the connection (RST).
  SmtpScript& Reset();
  // Stops answering; the server keeps recording until the client closes.
  // This is also what happens when the script runs out.
  SmtpScript& Silent();
  // Stops answering and reading, as a server that hangs: what the client
  // sends fills the connection's buffers until its sends block. Held until
  // the server object goes.
  SmtpScript& Stall();

  struct Step {
    enum Kind { kSend, kReadLine, kReadData, kReadChunks, kPause, kClose, kReset, kSilent, kStall } kind;
    std::string bytes;
    std::vector<std::size_t> segments;
  };
  const std::vector<Step>& steps() const { return m_steps; }

private:
  SmtpScript& Add(Step step);

  std::vector<Step> m_steps;
};

class ScriptedSmtpServer {
public:
  // One script per expected connection, in the order they are accepted.
  explicit ScriptedSmtpServer(std::vector<SmtpScript> sessions);
  explicit ScriptedSmtpServer(SmtpScript session) : ScriptedSmtpServer(std::vector<SmtpScript>{std::move(session)}) {}
  ~ScriptedSmtpServer();
  ScriptedSmtpServer(const ScriptedSmtpServer&) = delete;
  ScriptedSmtpServer& operator=(const ScriptedSmtpServer&) = delete;

  int port() const { return m_port; }
  // Everything the client of one session sent, once that session has ended
  // (the client closed, or the script closed or reset); what arrived so far if
  // it has not ended within timeoutMs.
  std::string Received(std::size_t session = 0, int timeoutMs = 5000);
  // The number of connections accepted so far.
  std::size_t Accepted();
  // Waits until the script of a session has reached its Silent step (or ran
  // out); false when that has not happened within timeoutMs.
  bool WaitUntilSilent(std::size_t session = 0, int timeoutMs = 5000);

private:
  struct Session {
    std::string received;
    bool silent = false;
    bool ended = false;
  };
  void run();
  void play(int fd, std::size_t index);
  // Reads more bytes into the session's record; false on end of file, error,
  // stop, or after the long safety time-out.
  bool read_more(int fd, std::size_t index);
  // Records that the session's script no longer answers.
  void mark_silent(std::size_t index);

  std::vector<SmtpScript> m_scripts;
  int m_listenFd = -1;
  int m_stopFd = -1;
  int m_port = 0;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<Session> m_sessions;
  std::thread m_thread;
};

}  // namespace tarvenkel::test
