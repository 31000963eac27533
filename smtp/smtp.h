// CSMTP: the client end of one conversation with one SMTP mail server. It
// holds the server parameters, opens the connection (in plain text, upgraded
// with STARTTLS, or in TLS from the first byte), reads the greeting,
// introduces itself, logs in with AUTH LOGIN or AUTH PLAIN when credentials
// are set, checks every reply against the reply the step expects, keeps the
// text of the last failure for the host, and ends the conversation with QUIT.
#pragma once

#include "framework/core/string.h"
#include "framework/core/win_types.h"
#include "framework/net/socket.h"
#include "smtp/reply_reader.h"

#include <cstdarg>
#include <cstddef>
#include <deque>
#include <utility>
#include <vector>

class CMailMessage;
class CMIMEMessage;
class CStringArray;

class AFX_EXT_CLASS CSMTP {
public:
  // A closed session: no server, port 25, timeout 300 s, GetLastError "OK".
  CSMTP();
  // Disconnects (QUIT) if connected.
  virtual ~CSMTP();
  // Refuses a message without primary (TO) recipients (FALSE, "No
  // Recipients"); otherwise has it format itself and returns TRUE. A MIME
  // message with parts it could not write whole is still sent; GetLastError
  // then reads "Attachment could not be read: " and their paths, separated
  // by ", ".
  virtual BOOL FormatMailMessage(CMailMessage* msg);
  CSMTP(const CSMTP&) = delete;
  CSMTP& operator=(const CSMTP&) = delete;

  // Stores the parameters for the next Connect (host, port, user, password)
  // and the next one-call send (sender). An open connection is not affected.
  void SetParams(CString sHost, CString sSender, int nPort, CString sUser, CString sPassword);
  // The host of SetParams.
  CString GetServerHostName() const;
  // The port of SetParams.
  UINT GetPort() const;
  // The text of the most recent failure; "OK" until the first one.
  CString GetLastError() const;
  // The whole server reply behind the most recent failure of the latest
  // Connect or SendMessage, as the server wrote it ("550 5.7.1 Relaying
  // denied"; the lines of a multi-line reply separated by CR LF); empty when
  // that call met no wrong reply.
  CString GetLastReply() const;
  // The system's reason for the most recent connect or socket failure of the
  // latest Connect or SendMessage ("Connection refused", "Name or service not
  // known", "Connection timed out", "Connection closed by the server"); empty
  // when that call met none.
  CString GetLastSocketError() const;
  // The number of recipients the server refused in the latest mail
  // transaction (0 before the first).
  int GetNumRefusedRecipients() const;
  // Copies the address of the refused recipient at nIndex, in the order the
  // recipients were sent, and the server's reply to it ("550 5.1.1 No such
  // user"); FALSE (outputs untouched) when there is none.
  BOOL GetRefusedRecipient(int nIndex, CString& sAddress, CString& sReply) const;

  // The longest wait for one connection attempt or one server reply, in
  // seconds; 0 means no limit. By default the reply to the end of the
  // message data is waited for 600 s, since a server may scan the message
  // before it answers, and every other reply and the connection attempt
  // 300 s. Once set, the limit applies to every wait, that reply included.
  void SetTimeout(UINT nSeconds);
  // The limit of SetTimeout, in seconds; 300 until it is called.
  UINT GetTimeout() const;

  // Opens the connection, checks the greeting, introduces the client and logs
  // in where credentials are set. Non-zero when the connection is open (at
  // once if it already was and has not failed since; one that failed is
  // closed and opened again); otherwise FALSE, the socket closed, and
  // GetLastError names the step that failed ("Unable to connect to server",
  // "Server didn't respond.", "Timed out", "535:SMTP AUTH FAILED", ...).
  BOOL Connect();
  // Sends QUIT and closes the connection; the result of the QUIT reply (FALSE
  // with the reason in GetLastError when it is not 221), or non-zero when
  // there was no connection. A connection that had already failed is closed
  // without QUIT, FALSE, GetLastError unchanged. The object is closed either
  // way.
  BOOL Disconnect();
  // Abandons the blocking socket call in progress and closes the socket; may
  // be called from another thread or from a handler running inside the wait.
  void Cancel();

  // How the connection is protected. SECURITY_NONE (the default) speaks
  // plain text throughout; SECURITY_STARTTLS says EHLO, upgrades with
  // STARTTLS and says EHLO again before the login (usually port 587);
  // SECURITY_TLS speaks TLS from the first byte (usually port 465);
  // SECURITY_STARTTLS_OFFERED upgrades as SECURITY_STARTTLS does when the
  // server lists STARTTLS in its EHLO reply and stays in plain text when it
  // does not. Used by the next Connect.
  enum SECURITY_MODE {
    SECURITY_NONE = 0,
    SECURITY_STARTTLS = 1,
    SECURITY_TLS = 2,
    SECURITY_STARTTLS_OFFERED = 3,
  };
  // Sets the protection for the next Connect.
  void SetSecurity(SECURITY_MODE nMode);
  // The protection set by SetSecurity.
  SECURITY_MODE GetSecurity() const;
  // A PEM file of the certificates to trust instead of the system's store;
  // empty for the system's store (the default).
  void SetCAFile(CString sPath);
  // The file of SetCAFile; empty for the system's store.
  CString GetCAFile() const;
  // FALSE accepts any server certificate for any name; TRUE (the default)
  // checks it against the trusted certificates and the host of SetParams.
  void SetVerifyPeer(BOOL bVerify);
  // Whether the server certificate is checked (TRUE or FALSE).
  BOOL GetVerifyPeer() const;
  // FALSE refuses to send the user name and password over a connection that
  // is not encrypted: Connect then fails before any AUTH command, with
  // GetLastError "Login refused: the connection is not encrypted". TRUE (the
  // default) logs in over any connection.
  void SetPlaintextLogin(BOOL bAllow);
  // Whether a login may go over an unencrypted connection (TRUE or FALSE).
  BOOL GetPlaintextLogin() const;

  // TRUE asks for the shortest dialogue the server allows, from the next
  // Connect on: EHLO also without a login (HELO when the server refuses it);
  // AUTH PLAIN with the identity in the command when the server offers
  // PLAIN; with PIPELINING, MAIL From, every RCPT TO and DATA written at once
  // and their replies read in order; with CHUNKING, the data in BDAT chunks
  // (no dot-stuffing; line ends still CR LF), the first chunk together with
  // MAIL From and RCPT TO when PIPELINING is offered too; in the one-call
  // send with PIPELINING, QUIT written together with the end of the data.
  // Results, GetLastError and GetLastReply texts and the connection state
  // are those of the full dialogue; a failed transaction is still ended with
  // RSET. FALSE (the default) keeps the full dialogue: HELO without a login,
  // every command on its own.
  void SetShortDialogue(BOOL bShort = TRUE);
  // Whether SetShortDialogue asked for the shortest dialogue.
  BOOL GetShortDialogue() const;

  // Sends one message over the open connection: formats it, then runs the
  // mail transaction. Non-zero when the server accepted the message;
  // otherwise FALSE with the reason in GetLastError ("Must be connected",
  // "No Recipients", "Invalid address", or the reply code and the step).
  // A transaction that fails after the server accepted MAIL From is ended
  // with RSET, so that the next message on the connection starts afresh; the
  // RSET changes neither the result nor the texts of the failure. Once a
  // send or receive on the connection has failed, the connection is closed
  // at once; the call then ends without waiting for further replies, and
  // later calls fail with "Must be connected" until Connect opens it again.
  BOOL SendMessage(CMailMessage* msg);
  // Sends one notification in one call: builds a MIME message from the
  // stored sender, the ";"-separated recipient list, the body and the subject
  // ("Hello!" for an empty one), attaches the files, connects, sends and
  // disconnects. 0 at once, with nothing sent, for an empty recipient list;
  // otherwise the object ends the call closed, whatever happens. Non-zero
  // when the server accepted the message; FALSE with the reason of the first
  // failing step in GetLastError. The message is formatted straight into the
  // data phase a piece at a time (CMailMessage::WriteMessage), so that an
  // attachment is never held whole in memory; the bytes sent are those
  // FormatMessage would give. In a class derived from CSMTP the call formats
  // and sends through FormatMailMessage and transmit_message instead, which
  // the class may have replaced.
  BOOL SendMessage(CString sRecipients, CString sBody, CString sSubject, CStringArray* pAttachments);
  // The charset the one-call send labels its 8-bit texts with
  // (CMailMessage::SetCharset); FALSE, changing nothing, for a name that
  // cannot stand in a header. Empty (the default): the ANSI code page's.
  BOOL SetCharset(LPCTSTR szCharset);

protected:
  // Runs the mail transaction for a formatted message: MAIL From, one RCPT TO
  // per recipient (TO, CC, BCC; a refused recipient does not stop it), DATA,
  // the header block and the body made transparent, the end-of-data line.
  // An address holding CR or LF fails it before anything is sent.
  virtual BOOL transmit_message(CMailMessage* msg);
  // Runs the mail transaction as transmit_message does, but the data phase
  // is what the message's WriteMessage writes, handed to the server a piece
  // at a time: for a derived session whose messages write themselves from a
  // file or a stream, so that a message is never held whole in memory. When
  // WriteMessage fails for a reason of its own (not the connection's), the
  // connection is closed before the end of the data, so that the server
  // discards the transaction, and GetLastError reads "Message could not be
  // written".
  BOOL transmit_streamed_message(CMailMessage* msg);

  // A reply a dialogue step expects, and the error text when another comes.
  struct response_code {
    int nCode;               // the reply code a step expects
    const char* szMessage;   // used in the error text when the reply differs
  };
  // The index into response_table of each step's expected reply.
  enum RESPONSE_TYPE {
    RESPONSE_OK = 0,
    RESPONSE_READY,
    RESPONSE_AUTH_CONTINUE,
    RESPONSE_AUTH_OK,
    RESPONSE_DATA_READY,
    RESPONSE_CLOSING,
  };
  // Indexed by RESPONSE_TYPE: 250, 220, 334, 235, 354 and 221 with their error texts.
  static const response_code response_table[];

  // The milliseconds in one second of the time-outs: 1000. A test shortens it
  // to measure the default limits without waiting minutes.
  UINT m_nTimeoutUnitMs = 1000;

  // The address literal of a numeric address, as HELO carries it when the
  // local host has no name: "[192.0.2.1]", "[IPv6:2001:db8::1]".
  static CString address_literal(const CString& sNumericAddress);

private:
  // How a connection stands: open, or failed in one of three ways that
  // decide what every later reply read on it gives at once (code 0, "Timed
  // out", "Socket Error"), so that the steps after the failure end as they
  // would on the broken connection, without waiting.
  enum LINK_STATE { LINK_OPEN, LINK_CLOSED, LINK_TIMED_OUT, LINK_FAILED };

  // Reads one reply, waiting at most nSeconds (or the limit of SetTimeout),
  // and compares its code with the table entry.
  BOOL get_response(UINT response_expected);
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
  // Ends a transaction that failed after MAIL From was accepted with RSET;
  // the texts of the failure stay. A RSET that is not answered with 250
  // leaves the connection failed.
  void reset_transaction();
  // Sends the message's header and body, each made safe for the data phase
  // (see CDotStuffer), and the end-of-data line, or the same bytes in BDAT
  // chunks.
  void send_data(CMailMessage* msg);
  // MAIL From, the RCPT TOs and DATA (no DATA with BDAT): TRUE when the
  // server is ready for the data, so far as its replies have been read.
  // Fails without a connection or on an unsafe address.
  BOOL start_transaction(CMailMessage* msg);
  // The replies a transaction awaits, in the order of their commands.
  enum PENDING_REPLY { PENDING_MAIL, PENDING_RCPT, PENDING_DATA, PENDING_CHUNK, PENDING_LAST_CHUNK };
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
  // Writes one BDAT chunk of nLength bytes (the last with LAST, followed by
  // szTrailer when not null) after the commands not yet written. Replies
  // still awaited are read first unless PIPELINING lets them wait. FALSE,
  // writing nothing, once the transaction has failed.
  BOOL send_chunk(const char* pData, std::size_t nLength, BOOL bLast, const char* szTrailer);
  // The reply to the end of the data: that to the end-of-data line, or those
  // still awaited for the chunks.
  BOOL end_of_data_reply();
  // Whether the short dialogue may group commands (PIPELINING) and send the
  // data in chunks (CHUNKING) on this connection.
  BOOL pipelining() const;
  BOOL chunking() const;
  // Hands the data phase to the socket; defined with the transaction.
  class CDataSender;
  // The mail transaction for a message that is formatted while it is sent
  // (WriteMessage into the data phase), with the checks of FormatMailMessage.
  BOOL stream_message(CMIMEMessage* msg);
  // Writes the message into the data phase with WriteMessage, and the end of
  // the data (with QUIT when bQuitAfter). FALSE, having ended nothing, when
  // WriteMessage failed while the connection could still take data.
  BOOL stream_data(CMailMessage* msg, BOOL bQuitAfter);
  // Sets GetLastError to the attachments a MIME message could not write whole.
  void note_failed_parts(CMailMessage* msg);
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
  // The name HELO and EHLO carry.
  CString local_name() const;
  // Introduces the client: EHLO when it is about to log in or the short
  // dialogue is asked for (falling back to HELO when the server rejects
  // EHLO), HELO otherwise.
  BOOL introduce(const CString& sName, BOOL bExtended);
  BOOL login();
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
  // Whether the login may go over the connection as it stands; FALSE with
  // the reason in GetLastError when SetPlaintextLogin(FALSE) forbids it.
  BOOL login_allowed();
  // Whether the login should be AUTH PLAIN: the server lists PLAIN among its
  // mechanisms, and not LOGIN unless the short dialogue is asked for.
  BOOL use_auth_plain() const;
  // Logs in with AUTH PLAIN, the whole identity in one line.
  BOOL login_plain();
  // Closes the socket and releases the reply buffer after a failed Connect.
  void abandon_connection();
  // Records the system's reason for a failed Connect.
  void note_connect_failure(int nError);

protected:
  // The session's state; derived classes (and tests) may read it.
  CString m_sLastError;  // what GetLastError returns
  BOOL m_bConnected;     // TRUE between a successful Connect and Disconnect
  UINT m_nPort;          // server port of SetParams
  CString m_sServerHost; // server host of SetParams
  CSocket m_Socket;      // the connection to the server
  CString m_sUser;       // user name for the login; empty: no login
  CString m_sPassword;   // password for the login
  CString m_sSender;     // sender address of the one-call send
  char* m_pReplyBuffer;  // receive buffer while connected, else null

private:
  UINT m_nTimeout;
  BOOL m_bTimeoutSet = FALSE;       // SetTimeout was called
  LINK_STATE m_nLink = LINK_OPEN;   // how the connection stands
  BOOL m_bInTransaction = FALSE;    // MAIL From accepted, transaction not ended
  CString m_sLastReply;             // what GetLastReply returns
  CString m_sSocketError;           // what GetLastSocketError returns
  // The refused recipients of the latest transaction: address and reply.
  std::vector<std::pair<CString, CString>> m_RefusedRecipients;
  CReplyReader m_ReplyReader;

  BOOL m_bShortDialogue = FALSE;          // see SetShortDialogue
  CString m_sUnwritten;                   // commands of the transaction not yet written
  std::deque<PENDING_REPLY> m_Pending;    // replies awaited, in order
  std::deque<CString> m_PendingRecipients;  // the addresses of the RCPT replies awaited
  BOOL m_bRefused = FALSE;                // the transaction failed at a reply
  int m_nAccepted = 0;                    // recipients accepted so far
  std::size_t m_nUnansweredBytes = 0;     // chunk bytes written whose replies are awaited
  BOOL m_bChunkAnswered = FALSE;          // a chunk's reply has been read
  BOOL m_bQuitSent = FALSE;               // QUIT went with the end of the data

  CString m_sCharset;  // see SetCharset
  SECURITY_MODE m_nSecurity = SECURITY_NONE;
  CString m_sCAFile;
  BOOL m_bVerifyPeer = TRUE;
  BOOL m_bPlaintextLogin = TRUE;
  // The extension lines of the last EHLO reply (after the greeting line);
  // empty after HELO.
  std::vector<CString> m_Extensions;
};
