// SPDX-License-Identifier: Apache-2.0
// The SMTP dialogue of tarvenkel-send --verbose, printed on standard error
// as "C: " and "S: " lines. The password or the bearer token of a login is
// masked; of the message data only the first lines are shown, whether it
// follows DATA or comes in BDAT chunks. Commands may go out several at once:
// every command line is answered by one reply, in order, so the reply to
// DATA is told by counting.
#pragma once

#include <tarvenkel/framework/core/win_types.h>

#include <string>

class DialogueTrace {
public:
  explicit DialogueTrace(const std::string& password);

  // The socket observer: bSent tells the client's bytes from the server's.
  static void Observe(BOOL bSent, const void* lpBuf, int nLength, void* pContext);

  // Ends the trace: a line the peer left unfinished is shown as it is.
  void Finish();

  // Prints the dialogue of every connection from now on, until Stop.
  void Start();
  // Stops printing, and ends the trace.
  void Stop();

private:
  static constexpr int kDataLinesShown = 40;

  void flush(bool sent);
  void data_line(const std::string& line);
  void end_of_data();
  // Bytes of a BDAT chunk, shown as the lines they hold.
  void chunk_data(const std::string& bytes);
  void client_line(const std::string& line);
  void server_line(const std::string& line);

  std::string m_encodedPassword;
  std::string m_client, m_server;
  int m_secretLines = 0;
  long m_commands = 0;     // command lines sent
  long m_replies = 0;      // replies received, the greeting included
  long m_dataReply = -1;   // the number of the reply to DATA
  unsigned long long m_chunkLeft = 0;  // bytes of the BDAT chunk still to come
  bool m_lastChunk = false;
  std::string m_chunkText;  // a line of chunk data not yet ended
  bool m_inData = false;
  long m_dataLines = 0;
  unsigned long long m_hiddenBytes = 0;
};
