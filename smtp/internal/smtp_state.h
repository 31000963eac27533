// SPDX-License-Identifier: Apache-2.0
// The state of a CSMTP object that hosts never see, and the steps of the
// dialogue that work on it, shared by the client's source files: the link
// (smtp_link.cpp), the session (smtp_session.cpp), the login (smtp_auth.cpp),
// the mail transaction (smtp_transaction.cpp) and the data phase
// (smtp_data.cpp). The object holds it by pointer, so that it may grow
// without changing the layout of a host's class derived from CSMTP.
#pragma once

#include "framework/core/string.h"
#include "framework/core/win_types.h"
#include "smtp/reply_reader.h"
#include "smtp/smtp.h"

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

class CMailMessage;
class CMIMEMessage;

namespace tarvenkel::detail {

// The bytes one receive of a reply may take; the reply buffer holds as many.
inline constexpr int kReplyBufferSize = 1024;

// The chunk bytes that may be written before their replies are read, so that
// the server never waits to write a reply the client does not read while
// the client waits to write more: within one message (send_chunk) and over
// the whole transactions in flight (write_whole).
inline constexpr std::size_t kUnansweredChunkBytes = 256 * 1024;
// The whole transactions that may await their replies at once: 8 drains a
// backlog at about a sixth of a round trip per message, and bounds what a
// killed flusher sends twice (every message in flight may go again).
inline constexpr std::size_t kWholeTransactionsInFlight = 8;

// Whether an EHLO line names the extension: the keyword, in any case,
// followed by the end of the line, a space, or the '=' of the old
// "AUTH=LOGIN" form. The rest of the line after that goes to pRest when it is
// not null.
bool NamesExtension(const CString& sLine, const char* szKeyword, std::string* pRest);

// The state and the steps described above, for the one CSMTP object that
// owns it (m_smtp), whose own members hold what the host may see.
struct CSMTPState {
  explicit CSMTPState(CSMTP& smtp);
  CSMTPState(const CSMTPState&) = delete;
  CSMTPState& operator=(const CSMTPState&) = delete;

  // How a connection stands: open, or failed in one of three ways that
  // decide what every later reply read on it gives at once (code 0, "Timed
  // out", "Socket Error"), so that the steps after the failure end as they
  // would on the broken connection, without waiting.
  enum LINK_STATE { LINK_OPEN, LINK_CLOSED, LINK_TIMED_OUT, LINK_FAILED };
  // The replies a transaction awaits, in the order of their commands.
  enum PENDING_REPLY { PENDING_MAIL, PENDING_RCPT, PENDING_DATA, PENDING_CHUNK, PENDING_LAST_CHUNK };

  // The link (smtp_link.cpp).

  // Reads one reply, waiting at most nSeconds, and compares its code with the
  // table entry.
  BOOL get_response(UINT response_expected, UINT nSeconds);
  // Whether the reply's code is the table entry's; records the failure when not.
  BOOL check_reply(const CSMTPReply& reply, UINT response_expected);
  // One dialogue step: sends the command formatted from szFormat and the
  // values as printf does, then reads its reply and compares its code with
  // the table entry. A send that fails has failed the connection: the reply
  // is then what a read on it gives at once, as for a receive that failed.
  BOOL command(UINT response_expected, const char* szFormat, ...) __attribute__((format(printf, 3, 4)));
  // The same for a step that judges the reply itself: TRUE with the reply
  // read, FALSE when it could not be read (see read_reply).
  BOOL command(CSMTPReply& reply, const char* szFormat, ...) __attribute__((format(printf, 3, 4)));
  // The body of both: formats and sends the command, then reads the reply.
  BOOL vcommand(CSMTPReply& reply, const char* szFormat, va_list args) __attribute__((format(printf, 3, 0)));
  // Sets GetLastError to "<code>:<szMessage>" and GetLastReply to the reply.
  void reply_failed(const CSMTPReply& reply, const char* szMessage);
  // The wait for the reply to the end of the message data, in seconds.
  UINT end_of_data_timeout() const;
  // A wait of nSeconds in milliseconds for the socket (0: no limit).
  int timeout_ms(UINT nSeconds) const;
  // Marks the connection failed after a send or receive that failed with the
  // error (0: closed by the server), records the system's reason and closes
  // the socket at once.
  void link_lost(int nError, BOOL bReceiving);
  // Records a failure that brought no reply ("Timed out", "Socket Error"):
  // sets GetLastError and empties GetLastReply.
  void link_failed(const char* szError);
  // Reads one whole reply, waiting at most nSeconds; FALSE with "Socket
  // Error" or "Timed out" when the receive fails. A connection closed before
  // the reply ended, and a reply that is malformed or too long, give code 0.
  // On a failed connection it returns at once (see LINK_STATE).
  BOOL read_reply(CSMTPReply& reply);
  BOOL read_reply(CSMTPReply& reply, UINT nSeconds);
  // What a reply read on a failed connection gives at once.
  BOOL failed_link_reply(CSMTPReply& reply);
  // Sends a whole text; FALSE when it was not sent, because the connection
  // had failed before or failed in this send.
  BOOL send_text(const CString& sText);
  BOOL send_bytes(const char* pData, std::size_t nLength);

  // The session (smtp_session.cpp).

  // The name HELO and EHLO carry.
  CString local_name() const;
  // Introduces the client: EHLO when it is about to log in or the short
  // dialogue is asked for (falling back to HELO when the server rejects
  // EHLO), HELO otherwise.
  BOOL introduce(const CString& sName, BOOL bExtended);
  // Runs the TLS handshake on the connected socket; FALSE with a text that
  // names the step that failed.
  BOOL start_tls();
  // Upgrades the plain connection after EHLO: STARTTLS, the handshake, and
  // EHLO again over TLS.
  BOOL upgrade_with_starttls(const CString& sName);
  // Whether the last EHLO reply lists the extension (in any case).
  BOOL server_offers(const char* szKeyword) const;
  // Whether Connect upgrades with STARTTLS after the first EHLO reply: always
  // with SECURITY_STARTTLS, when the server offers it with
  // SECURITY_STARTTLS_OFFERED.
  BOOL wants_starttls() const;
  // Closes the socket and releases the reply buffer after a failed Connect.
  void abandon_connection();
  // Records the system's reason for a failed Connect.
  void note_connect_failure(int nError);

  // The login (smtp_auth.cpp).

  // Logs in with the mechanism of SetAuthMechanism, or for AUTH_AUTO the one
  // the server's offer and the credential call for.
  BOOL login();
  // Whether the last EHLO reply's AUTH line names the mechanism (in any case).
  BOOL offers_mechanism(const char* szMechanism) const;
  // Whether the login should be AUTH PLAIN: the server lists PLAIN among its
  // mechanisms, and not LOGIN unless the short dialogue is asked for.
  BOOL use_auth_plain() const;
  // Logs in with AUTH LOGIN: the user and the password each in a reply to a
  // challenge.
  BOOL login_login();
  // Logs in with AUTH PLAIN, the whole identity in one line.
  BOOL login_plain();
  // Logs in with the token, XOAUTH2 or OAUTHBEARER, the initial response with
  // the command; a 334 error challenge is answered as the mechanism asks and
  // its status added to GetLastError.
  BOOL login_bearer(BOOL bOAuthBearer);
  // Whether Connect logs in: a user, a password or a token is set.
  BOOL wants_login() const;
  // Whether the login may go over the connection as it stands; FALSE with
  // the reason in GetLastError when SetPlaintextLogin(FALSE) forbids it.
  BOOL login_allowed();

  // The mail transaction (smtp_transaction.cpp).

  // Ends a transaction that failed after MAIL From was accepted with RSET;
  // the texts of the failure stay. A RSET that is not answered with 250
  // leaves the connection failed.
  void reset_transaction();
  // MAIL From, the RCPT TOs and DATA (no DATA with BDAT): TRUE when the
  // server is ready for the data, so far as its replies have been read.
  // Fails without a connection or on an unsafe address. nSize, when not 0,
  // is the size MAIL From declares; a message over the server's limit fails
  // before anything is sent.
  BOOL start_transaction(CMailMessage* msg, std::uint64_t nSize);
  // Whether MAIL From declares the message's size: the short dialogue on an
  // open connection whose server offers SIZE.
  BOOL declares_size() const;
  // The limit of the server's SIZE line in bytes; 0 when it gave none.
  std::uint64_t size_limit() const;
  // Adds one command of the transaction to the commands not yet written;
  // without PIPELINING it is written at once and its reply read. FALSE once
  // the transaction has failed.
  BOOL transaction_command(PENDING_REPLY nReply, const char* szFormat, ...) __attribute__((format(printf, 3, 4)));
  // Writes the commands not yet written, then reads every awaited reply in
  // order, each checked as its step expects. After a failed MAIL From, DATA
  // or chunk the later replies are read without changing the texts of the
  // failure. FALSE once the transaction has failed.
  BOOL take_replies();
  // Reads one reply after the transaction failed; the texts of the failure stay.
  void skip_reply(PENDING_REPLY nReply);
  // Whether the short dialogue may group commands (PIPELINING) and send the
  // data in chunks (CHUNKING) on this connection.
  BOOL pipelining() const;
  BOOL chunking() const;
  // Sets GetLastError to the attachments a MIME message could not write whole.
  void note_failed_parts(CMailMessage* msg);

  // The data phase (smtp_data.cpp).

  // Sends the message's header and body, each made safe for the data phase
  // (see CDotStuffer), and the end-of-data line, or the same bytes in BDAT
  // chunks.
  void send_data(CMailMessage* msg);
  // Writes one BDAT chunk of nLength bytes (the last with LAST, followed by
  // szTrailer when not null) after the commands not yet written. Replies
  // still awaited are read first unless PIPELINING lets them wait. FALSE,
  // writing nothing, once the transaction has failed.
  BOOL send_chunk(const char* pData, std::size_t nLength, BOOL bLast, const char* szTrailer);
  // The reply to the end of the data: that to the end-of-data line, or those
  // still awaited for the chunks.
  BOOL end_of_data_reply();
  // The mail transaction for a message that is formatted while it is sent
  // (WriteMessage into the data phase).
  BOOL stream_message(CMIMEMessage* msg);
  // Writes the message into the data phase with WriteMessage, and the end of
  // the data (with QUIT when bQuitAfter); sHeader, when not empty, goes in
  // place of the header block the message formats. FALSE, having ended
  // nothing, when WriteMessage failed while the connection could still take
  // data.
  BOOL stream_data(CMailMessage* msg, BOOL bQuitAfter, const CString& sHeader);
  // Where the size is declared (declares_size), counts the bytes a streamed
  // message will take in a first WriteMessage pass and keeps its header
  // block, to be sent instead of a new one; otherwise nSize 0 and sHeader
  // empty. FALSE when WriteMessage failed.
  BOOL count_streamed(CMailMessage* msg, std::uint64_t& nSize, CString& sHeader);
  // The bytes a streamed message takes in the data phase as
  // declares_size counts them, in a WriteMessage pass that keeps nothing;
  // FALSE when WriteMessage failed.
  static BOOL streamed_size(CMailMessage* msg, std::uint64_t& nSize);
  // The size of a formatted message as the server receives it.
  static std::uint64_t formatted_size(CMailMessage* msg);

  // The one-call send (smtp_send.cpp).

  // Ends the one-call send's hold on its message.
  void forget_one_call_message();

  // The outbox (outbox/) sends its queued messages through a host's session.

  // The state of a session.
  static CSMTPState& of(CSMTP& smtp) { return *smtp.m_pState; }
  // Sends a message that writes itself (CSMTP::transmit_streamed_message)
  // with the envelope it carries, as SendMessage does but without formatting
  // it first: a message with only CC or BCC recipients goes too. A failed
  // transaction is ended with RSET.
  BOOL send_streamed(CMailMessage* msg);
  // The mail transaction of a message that writes itself, up to the end of
  // its data, the replies not yet awaited read only where the dialogue
  // requires it: what transmit_streamed_message does before it reads the
  // reply to the end of the data.
  BOOL write_streamed(CMailMessage* msg);
  // Whether the commands of a message's transaction (nSize as declared, 0
  // for none) may be written before the replies to what went before are
  // read: PIPELINING, an open connection, a sound envelope, a size within
  // the server's limit, recipients few enough for one group.
  BOOL may_write_ahead(CMailMessage* msg, std::uint64_t nSize) const;
  // The commands that start the transaction of a message (MAIL From with the
  // size when nSize is not 0, the RCPT TOs, DATA unless the data goes in
  // chunks), to be written with the end of the previous message's data
  // (m_sAfterData) where PIPELINING allows; empty when they may not be
  // written ahead: no PIPELINING, a failed connection, an unsafe envelope,
  // a size over the server's limit, more recipients than one group holds.
  CString commands_ahead(CMailMessage* msg, std::uint64_t nSize);
  // The text of MAIL From (sSize: " SIZE=n" or empty) and of one RCPT TO.
  static CString mail_command(CMailMessage* msg, const CString& sSize);
  static CString rcpt_command(const CString& sAddress);

  CSMTP& m_smtp;  // the object this is the state of

  UINT m_nTimeout;
  BOOL m_bTimeoutSet = FALSE;       // SetTimeout was called
  LINK_STATE m_nLink = LINK_OPEN;   // how the connection stands
  CString m_sLastReply;             // what GetLastReply returns
  CString m_sSocketError;           // what GetLastSocketError returns
  CSMTPReply m_LastRead;            // the last whole reply read on the connection
  // Written with the end of the next streamed message's data (commands_ahead);
  // emptied once used.
  CString m_sAfterData;
  // m_sAfterData went out: the next transaction's commands are on the wire,
  // and start_transaction only awaits their replies.
  BOOL m_bCommandsWrittenAhead = FALSE;
  CReplyReader m_ReplyReader;
  BOOL m_bShortDialogue = FALSE;    // see SetShortDialogue
  BOOL m_bQuitSent = FALSE;         // QUIT went with the end of the data

  // The state of the latest mail transaction. start_transaction sets it back
  // to these values, all at once, before the first command of each.
  struct CTransaction {
    BOOL bStarted = FALSE;                // MAIL From accepted, transaction not ended
    BOOL bWrittenAhead = FALSE;           // its commands went with the previous message's data
    CString sUnwritten;                   // commands not yet written
    std::deque<PENDING_REPLY> pending;    // replies awaited, in order
    std::deque<CString> pendingRecipients;  // the addresses of the RCPT replies awaited
    BOOL bRefused = FALSE;                // the transaction failed at a reply
    int nAccepted = 0;                    // recipients accepted so far
    std::size_t nUnansweredBytes = 0;     // chunk bytes written whose replies are awaited
    BOOL bChunkAnswered = FALSE;          // a chunk's reply has been read
    // The refused recipients: address and reply.
    std::vector<std::pair<CString, CString>> refusedRecipients;
  };
  CTransaction m_Transaction;

  // With CHUNKING and PIPELINING a message's whole transaction (MAIL From,
  // the RCPT TOs, BDAT ... LAST and the data) needs no reply on the way, so
  // several may be written before the first is answered: write_whole writes
  // one and keeps what read_whole needs to read its replies later, in the
  // order they were written. Replies match their commands in order, and a
  // server must take in a chunk's bytes even when it refuses the chunk, so
  // a refusal leaves the dialogue in step for the transactions after it.
  struct CWritten {
    CTransaction transaction;   // its replies still awaited
    CString sLastError;         // the texts its write left (a failure's)
    CString sLastReply;
    CSMTPReply lastRead;
    BOOL bAwaiting = FALSE;     // the last chunk went out; its replies are to be read
    BOOL bSent = FALSE;         // the result, when nothing is awaited
  };
  // Writes the message's whole transaction as send_streamed would, without
  // reading the replies to it. Replies are read on the way only when the
  // message alone is more than the chunks that may go unanswered, or has
  // more recipients than one group: such a message is written only when
  // nothing else awaits replies. A transaction that ended while written
  // (refused on the way, or nothing of it sent) is ended with RSET there.
  void write_whole(CMailMessage* msg, CWritten& written);
  // Reads the replies to a transaction written by write_whole, after those
  // written before it: the result send_streamed would have given, with the
  // same texts and refused recipients. The last chunk ended the transaction
  // whatever its reply, so no RSET follows a failure.
  BOOL read_whole(CWritten& written);

  // The message of the one-call send while the call runs, else null; the base
  // FormatMailMessage leaves it unformatted (m_bFormatDeferred) for the base
  // transmit_message to format into the data phase.
  CMIMEMessage* m_pOneCallMessage = nullptr;
  BOOL m_bFormatDeferred = FALSE;

  CString m_sCharset;  // see SetCharset
  CSMTP::SECURITY_MODE m_nSecurity = CSMTP::SECURITY_NONE;
  CString m_sCAFile;
  BOOL m_bVerifyPeer = TRUE;
  CString m_sTLSServerName;  // see SetTLSServerName
  CString m_sTLSFingerprint;  // see SetTLSFingerprint
  CString m_sClientCertFile;  // see SetClientCertificate
  CString m_sClientKeyFile;
  BOOL m_bPlaintextLogin = TRUE;  // see SetPlaintextLogin
  CString m_sToken;               // see SetOAuth2Token
  CSMTP::AUTH_MECHANISM m_nAuthMechanism = CSMTP::AUTH_AUTO;  // see SetAuthMechanism
  // The extension lines of the last EHLO reply (after the greeting line);
  // empty after HELO.
  std::vector<CString> m_Extensions;
};

}  // namespace tarvenkel::detail
