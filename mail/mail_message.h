// SPDX-License-Identifier: Apache-2.0
// CMailMessage: one Internet mail message while it is composed (sender,
// subject, body, three recipient lists) and its formatting into the header
// block and the body that the SMTP transport sends.
#pragma once

#include "framework/core/collections.h"
#include "framework/core/string.h"
#include "framework/core/time.h"
#include "framework/core/win_types.h"
#include "framework/io/file.h"

#include <memory>
#include <string_view>

namespace tarvenkel {
enum class NameForm;
}

namespace tarvenkel::detail {
struct MailMessageState;
}

class AFX_EXT_CLASS CMailMessage {
public:
  // The three recipient lists: To and Cc appear in the header, Bcc only in
  // the envelope.
  enum RECIPIENTS_TYPE { TO = 0, CC = 1, BCC = 2 };

  CMailMessage();
  CMailMessage(const CMailMessage&) = delete;
  CMailMessage& operator=(const CMailMessage&) = delete;
  virtual ~CMailMessage();

  // Adds one recipient of the kind; any other kind stores nothing. Always 1.
  int AddRecipient(LPCTSTR szEmailAddress, LPCTSTR szFriendlyName = "", RECIPIENTS_TYPE type = TO);
  // Adds one recipient per ";"-separated piece ("name <address>" or
  // "address"); 1 when every piece was added, 0 at the first piece with a
  // "<" but no ">" after it (the pieces before it stay added).
  int AddMultipleRecipients(LPCTSTR szRecipients = nullptr, RECIPIENTS_TYPE type = TO);
  // Copies the recipient at nIndex of the kind; 0 (outputs untouched) when there is none.
  int GetRecipient(CString& sEmailAddress, CString& sFriendlyName, int nIndex = 0, RECIPIENTS_TYPE type = TO);
  // The number of recipients of the kind; 0 for any other kind.
  int GetNumRecipients(RECIPIENTS_TYPE type = TO);

  // Builds m_sHeader and finishes m_sBody through the protected steps.
  void FormatMessage();
  // Formats the message as FormatMessage does and writes the header block,
  // then the body, into the file at its position: the bytes written are
  // those of m_sHeader + m_sBody after FormatMessage, but the body is not
  // kept in memory, and a MIME message reads and encodes each attachment a
  // bounded piece at a time, so memory stays small however large the
  // attachments are. Afterwards m_sHeader and m_tDateTime hold what
  // FormatMessage leaves there, while m_sBody (and a MIME message's queued
  // parts) still hold what the host set, so the message can be written,
  // formatted or sent again. TRUE when the whole message was written (a
  // MIME part that could not be read whole is not a failure: it is written
  // as FormatMessage would and listed by GetFailedParts); FALSE when the
  // file could not be written: the CFileException* its Write threw (or the
  // CMemoryException* when memory ran out) is deleted, nothing is thrown to
  // the caller, and the file holds an unfinished message. The file is
  // neither flushed nor closed.
  BOOL WriteMessage(CFile& file);

  // The line width for text (76 by default). A MIME message hands it to the
  // text agent it registers in its constructor; changing it later does not
  // re-wrap anything.
  void SetCharsPerLine(UINT nCharsPerLine);
  // The line width for text.
  UINT GetCharsPerLine();

  // Names the charset that the message's 8-bit texts are held in (a MIME
  // charset name such as "GBK" or "UTF-8"), for a host whose texts are not
  // in the ANSI code page; an empty name goes back to the ANSI code page's.
  // The texts are not converted: subject, display names, mailer name, body,
  // text parts and file names that hold bytes of 0x80 and above are labelled
  // with it and encoded. FALSE, changing nothing, for a name that cannot
  // stand in a header (blanks, quotes, "?", ...).
  BOOL SetCharset(LPCTSTR szCharset);
  // The charset of SetCharset; when none was set, the one of the ANSI code
  // page (AfxGetCodePageCharset) if the host set that code page; else the
  // one of the process's locale when it is UTF-8 or a GB charset
  // (AfxGetLocaleCharset), and GBK for any other. A text that is not valid
  // UTF-8 is never labelled with a UTF-8 that only the locale chose: it is
  // labelled GBK, the charset of the hosts this library was made for.
  CString GetCharset() const;
  // Checks that the subject, the sender, the recipients' names, the body
  // and the mailer name are valid in the charset each is labelled with (see
  // GetCharset), so that a host or a command line can warn before a reader
  // shows mojibake. TRUE when they are; FALSE at the first that is not, with
  // sText naming it ("the subject", "the name of duty@example.test", ...)
  // and sCharset the charset. CMIMEMessage's checks its parts too.
  BOOL CheckCharset(CString& sText, CString& sCharset);

  CString m_sFrom;     // the sender's address, written as the From line
  CString m_sSubject;  // written as the Subject line
  CString m_sReserved; // not used by the library; kept for hosts that store something here
  CString m_sMailer;   // written as the X-Mailer line
  CString m_sHeader;   // the header block FormatMessage builds, ending with an empty line
  CTime m_tDateTime;   // the time FormatMessage wrote into the Date line
  CString m_sBody;     // the body text; FormatMessage makes it end with CR LF

protected:
  // Adds the lines of add_message_fields and, when the body needs a
  // transfer encoding (see prepare_body), the MIME-Version, Content-Type and
  // Content-Transfer-Encoding lines that say how it is encoded.
  virtual void prepare_header();
  // Makes the body end with CR LF. A body holding bytes of 0x80 and above,
  // or a line longer than 998 bytes, becomes instead the base64 lines of the
  // body with its line ends made CR LF.
  virtual void prepare_body();
  // Writes the body as prepare_body makes it into the file, and leaves
  // m_sBody as it was; throws what the file's Write throws. This one runs
  // prepare_body on a copy of the text, so a class that changes
  // prepare_body is written as it formats; CMIMEMessage writes its parts as
  // it goes instead.
  virtual void write_body(CFile& file);
  // Adds a Message-ID line unless the header holds one (a class that sets
  // its own in prepare_header keeps it), then ends the header block with the
  // empty line. The ID is "<time.microseconds.process.count.random@domain>",
  // the domain the local host's name when it has a dot, else the sender's.
  virtual void end_header();
  // Empties m_sHeader.
  virtual void start_header();
  // Appends the line and CR LF to the header. A CR LF followed by a blank or
  // a tab and then by more than blanks on that line (a fold) is kept; every
  // other CR or LF becomes a blank, so that no value can start a header line
  // of its own or end the header block early. A line longer than 78
  // characters is folded before a blank, within 78 where its blanks allow.
  virtual void add_header_line(LPCTSTR szHeaderLine);

  // Adds the From, To, Cc, Date, Subject and X-Mailer lines (Bcc is never
  // written); stamps m_tDateTime with the current time. A subject, mailer
  // name or display name with bytes of 0x80 and above, a word that a reader
  // would decode as an encoded-word, or a run without blanks too long for a
  // line, is written as encoded-words of GetCharset on folded lines. A
  // display name of letters, digits, blanks and the other characters of an
  // atom is written as it is, any other ASCII name as a quoted string; so is
  // the name of a sender given as "name <address>". A To or Cc line longer
  // than 78 characters, or holding encoded-words, is folded after commas.
  void add_message_fields();

  // The text after "Date: ": the current local time with English names and a
  // numeric zone offset, "%a, %d %b %y %H:%M:%S +hhmm".
  static CString format_date(const CTime& t);

  UINT m_nCharsPerLine;  // see SetCharsPerLine

  // One recipient as stored.
  class CRecipient {
  public:
    CString m_sAddress;  // the address, without angle brackets
    CString m_sName;     // the friendly name; may be empty
  };

  CArray<CRecipient, const CRecipient&> m_ToRecipients;   // the TO list
  CArray<CRecipient, const CRecipient&> m_CcRecipients;   // the CC list
  CArray<CRecipient, const CRecipient&> m_BccRecipients;  // the BCC list

  // True when no charset was set and the host set no code page.
  bool charset_from_locale() const;
  // The charset the text is labelled with (see GetCharset).
  CString charset_for(std::string_view text) const;
  // CheckCharset for one text; szWhat names it.
  BOOL check_text(LPCTSTR szWhat, std::string_view text, CString& sText, CString& sCharset) const;

private:
  CArray<CRecipient, const CRecipient&>* list_of(RECIPIENTS_TYPE type);
  // The whole To or Cc line after szPrefix ("To: "): "name<address>"
  // entries joined by ",", or folded (see add_message_fields).
  CString recipient_line(LPCTSTR szPrefix, RECIPIENTS_TYPE type);
  // How the name is written before the address: as DisplayNameForm says,
  // but as encoded-words when the name and its address do not fit a line.
  static tarvenkel::NameForm name_form(const CString& sName, const CString& sAddress);
  // A plain name as it is, a quoted one as a quoted string and a blank.
  static CString display_name(const CString& sName, tarvenkel::NameForm form);
  // "Subject: " or "X-Mailer: " and the text, encoded when it needs to be.
  CString text_line(LPCTSTR szPrefix, const CString& sText);
  // The From line (see add_message_fields).
  CString from_line();
  // True when the header holds a line of the field (any case).
  bool has_field(LPCTSTR szName) const;
  // A new Message-ID with its angle brackets (see end_header).
  CString new_message_id() const;
  // True when prepare_body encodes the body.
  bool body_needs_encoding() const;

  // Everything else (the charset of SetCharset). Held by pointer, so that
  // adding to it does not change the layout of a host's class derived from
  // this one.
  std::unique_ptr<tarvenkel::detail::MailMessageState> m_pState;
};
