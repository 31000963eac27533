// SPDX-License-Identifier: Apache-2.0
// CSMTP: the client end of one conversation with one SMTP mail server. It
// holds the server parameters, opens the connection (in plain text, upgraded
// with STARTTLS, or in TLS from the first byte), reads the greeting,
// introduces itself, logs in when credentials are set (a password with AUTH
// LOGIN or AUTH PLAIN, an OAuth2 bearer token with OAUTHBEARER or XOAUTH2), checks every reply against the reply the step expects, keeps the
// text of the last failure for the host, and ends the conversation with QUIT.
#pragma once

#include "framework/core/string.h"
#include "framework/core/win_types.h"
#include "framework/net/socket.h"

#include <memory>

class CMailMessage;
class CStringArray;

namespace tarvenkel::detail {
struct CSMTPState;
}

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
  // by ", ". The message of the one-call send is checked only; it is
  // formatted as it is sent.
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
  // that call met no wrong reply, and empty once a failure came without a
  // reply (a time-out, a failed send or receive, a connection the server
  // closed), which GetLastError then names: an earlier refusal's reply never
  // stands beside a later failure's text.
  CString GetLastReply() const;
  // The system's reason for the most recent connect or socket failure of the
  // latest Connect or SendMessage ("Connection refused", "Name or service not
  // known", "Connection timed out", "Connection closed by the server"); empty
  // when that call met none.
  CString GetLastSocketError() const;
  // The number of recipients the server refused in the latest mail
  // transaction (0 before the first). A recipient answered with 250, 251
  // (will be forwarded) or 252 (cannot be checked, delivery will be tried)
  // is accepted.
  int GetNumRefusedRecipients() const;
  // Copies the address of the refused recipient at nIndex, in the order the
  // recipients were sent, and the server's reply to it ("550 5.1.1 No such
  // user"); FALSE (outputs untouched) when there is none.
  BOOL GetRefusedRecipient(int nIndex, CString& sAddress, CString& sReply) const;

  // The longest wait for one connection attempt, one server reply, or one
  // stretch of a send that makes no progress, in seconds; 0 means no limit.
  // Each wait gets the whole limit, however long the one before it took (a
  // reply that came in pieces included). By default the reply to the end of the
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
  // The name the server's certificate must be issued for, and that is sent
  // to the server (SNI) unless it is a numeric address, when the host of
  // SetParams is an address (a relay reached as "192.0.2.25" whose
  // certificate names "relay.plant.example"). Empty (the default): the host
  // of SetParams. The connection still goes to the host of SetParams.
  void SetTLSServerName(CString sName);
  // The name of SetTLSServerName; empty when the host of SetParams is checked.
  CString GetTLSServerName() const;
  // Pins the server's certificate by its SHA-256 fingerprint, in hex with or
  // without colons, in any case, as "openssl x509 -noout -fingerprint
  // -sha256" prints it: the certificate with that fingerprint is trusted
  // without a CA, whoever signed it and whatever name it bears (a relay's
  // self-signed certificate), and any other is rejected, also with
  // SetVerifyPeer(FALSE). A different one fails Connect with GetLastError
  // "Server certificate rejected: fingerprint mismatch: the certificate's
  // SHA-256 fingerprint is <the server's>, expected <the pin>"; a text that
  // is no fingerprint fails it with "TLS handshake failed: '<text>' is not a
  // SHA-256 fingerprint (32 bytes in hex)". Empty (the default): no pin.
  void SetTLSFingerprint(CString sFingerprint);
  // The fingerprint of SetTLSFingerprint, as given; empty for none.
  CString GetTLSFingerprint() const;
  // The client certificate (a PEM file, the chain after it) and its
  // unencrypted PEM private key, offered to a server that asks for one; an
  // empty key file: the key is in the certificate file. A file that cannot
  // be read, or a key that is not the certificate's, fails Connect with
  // "TLS handshake failed: " and the reason ("cannot load the client
  // certificate <file>: ...", "the client key <file> does not belong to the
  // certificate <file>"). A server that refuses the certificate (or wanted
  // one) ends the connection; GetLastSocketError then holds OpenSSL's text of
  // its alert ("tlsv13 alert certificate required"). Empty (the default):
  // none is offered.
  void SetClientCertificate(CString sCertFile, CString sKeyFile);
  // The certificate file of SetClientCertificate; empty for none.
  CString GetClientCertificateFile() const;
  // The key file of SetClientCertificate; empty when none was given.
  CString GetClientKeyFile() const;
  // FALSE refuses to send the user name and password (or token) over a
  // connection that is not encrypted: Connect then fails before any AUTH command, with
  // GetLastError "Login refused: the connection is not encrypted". TRUE (the
  // default) logs in over any connection.
  void SetPlaintextLogin(BOOL bAllow);
  // Whether a login may go over an unencrypted connection (TRUE or FALSE).
  BOOL GetPlaintextLogin() const;

  // An OAuth2 access token to log in with instead of the password, for
  // servers that take bearer tokens (XOAUTH2, OAUTHBEARER); the user name is
  // that of SetParams. Empty (the default): no token. Used by the next
  // Connect, which logs in whenever a user, a password or a token is set.
  // The token goes only into the login's initial response; no text the
  // object gives (GetLastError, GetLastReply) ever holds it.
  void SetOAuth2Token(CString sToken);
  // The token of SetOAuth2Token; empty when none is set.
  CString GetOAuth2Token() const;

  // The login mechanism of the next Connect. AUTH_AUTO (the default) chooses
  // from the server's EHLO reply for the credential given: with a token,
  // OAUTHBEARER when the server offers it and XOAUTH2 otherwise; with a
  // password, AUTH PLAIN or AUTH LOGIN (see SetShortDialogue). The others
  // use the named mechanism whatever the server offers: AUTH_LOGIN and
  // AUTH_PLAIN with the password, AUTH_XOAUTH2 and AUTH_OAUTHBEARER with the
  // token (Connect fails with "Login refused: no OAuth2 token set" when
  // there is none). A token login sends its initial response with the
  // command, so that it takes one round trip. A refused token is usually
  // answered with a 334 challenge holding the reason as base64 JSON; the
  // client ends the exchange as the mechanism requires (an empty line for
  // XOAUTH2, a single 0x01 byte for OAUTHBEARER) and reads the final reply:
  // GetLastReply is then that reply ("535 5.7.8 Authentication
  // credentials invalid") and GetLastError its code, "SMTP AUTH FAILED" and,
  // in brackets, the status of the challenge and its scope when it named
  // one ("535:SMTP AUTH FAILED (invalid_token, scope
  // https://mail.google.com/)").
  enum AUTH_MECHANISM {
    AUTH_AUTO = 0,
    AUTH_LOGIN = 1,
    AUTH_PLAIN = 2,
    AUTH_XOAUTH2 = 3,
    AUTH_OAUTHBEARER = 4,
  };
  // Sets the login mechanism for the next Connect.
  void SetAuthMechanism(AUTH_MECHANISM nMechanism);
  // The mechanism set by SetAuthMechanism; AUTH_AUTO until it is called.
  AUTH_MECHANISM GetAuthMechanism() const;

  // TRUE asks for the shortest dialogue the server allows, from the next
  // Connect on: EHLO also without a login (HELO when the server refuses it);
  // AUTH PLAIN with the identity in the command when the server offers
  // PLAIN; with PIPELINING, MAIL From, every RCPT TO and DATA written at once
  // and their replies read in order; with CHUNKING, the data in BDAT chunks
  // (no dot-stuffing; line ends still CR LF), the first chunk together with
  // MAIL From and RCPT TO when PIPELINING is offered too; in the one-call
  // send with PIPELINING, QUIT written together with the end of the data;
  // with SIZE, MAIL From declares the message's size in bytes (SIZE=n, as the
  // server receives it, line ends CR LF, without the dots the data phase
  // adds), and a message over the server's limit fails before anything of
  // it is sent, with GetLastError "Message too large for the server: <n>
  // bytes, limit <limit> bytes", and the connection stays open (the
  // one-call send counts the size in a first formatting pass that keeps
  // nothing, which reads the attachments twice). Otherwise results,
  // GetLastError and GetLastReply texts and the connection state are those
  // of the full dialogue; a failed transaction is still ended with RSET.
  // FALSE (the default) keeps the full dialogue: HELO without a login,
  // every command on its own.
  void SetShortDialogue(BOOL bShort = TRUE);
  // Whether SetShortDialogue asked for the shortest dialogue.
  BOOL GetShortDialogue() const;

  // Sends one message over the open connection: formats it, then runs the
  // mail transaction. Non-zero when the server accepted the message;
  // otherwise FALSE with the reason in GetLastError ("Must be connected",
  // "No Recipients", "Invalid address", "Message too large for the server:
  // ..." (see SetShortDialogue), or the reply code and the step).
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
  // FormatMessage would give. The call goes through FormatMailMessage and
  // transmit_message, which a derived class may replace: for this message
  // the base FormatMailMessage checks it but leaves it unformatted, and the
  // base transmit_message formats it as it sends it. A replacement that
  // needs the formatted text has the message format itself.
  BOOL SendMessage(CString sRecipients, CString sBody, CString sSubject, CStringArray* pAttachments);
  // The charset the one-call send labels its 8-bit texts with
  // (CMailMessage::SetCharset); FALSE, changing nothing, for a name that
  // cannot stand in a header. Empty (the default): the ANSI code page's.
  BOOL SetCharset(LPCTSTR szCharset);

protected:
  // Runs the mail transaction for a formatted message: MAIL From, one RCPT TO
  // per recipient (TO, CC, BCC; a refused recipient does not stop it; 250,
  // 251 and 252 accept one), DATA,
  // the header block and the body made transparent, the end-of-data line.
  // An address holding CR or LF fails it before anything is sent. The
  // message of the one-call send, left unformatted by FormatMailMessage, is
  // formatted straight into the data phase.
  virtual BOOL transmit_message(CMailMessage* msg);
  // Runs the mail transaction as transmit_message does, but the data phase
  // is what the message's WriteMessage writes, handed to the server a piece
  // at a time: for a derived session whose messages write themselves from a
  // file or a stream, so that a message is never held whole in memory. When
  // WriteMessage fails for a reason of its own (not the connection's), the
  // connection is closed before the end of the data, so that the server
  // discards the transaction, and GetLastError reads "Message could not be
  // written". Where the short dialogue declares the size (SIZE), the message
  // writes itself twice: once to be counted, which fails the same way with
  // nothing sent, then into the data phase with the header block of the
  // first pass.
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
  // The session's own state and steps, which hosts never see.
  friend struct tarvenkel::detail::CSMTPState;

  // Reads one reply, waiting at most the limit of SetTimeout, and compares
  // its code with the table entry; records the failure when it differs.
  BOOL get_response(UINT response_expected);

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
  // Everything else: settings, the state of the connection and of the mail
  // transaction, the last reply. Held by pointer, so that adding to it does
  // not change the layout of this class.
  std::unique_ptr<tarvenkel::detail::CSMTPState> m_pState;
};
