// CMailMessage: one Internet mail message while it is composed (sender,
// subject, body, three recipient lists) and its formatting into the header
// block and the body that the SMTP transport sends.
#pragma once

#include "framework/collections.h"
#include "framework/string.h"
#include "framework/time.h"
#include "framework/win_types.h"

class AFX_EXT_CLASS CMailMessage {
public:
  enum RECIPIENTS_TYPE { TO = 0, CC = 1, BCC = 2 };

  CMailMessage();
  CMailMessage(const CMailMessage&) = delete;
  CMailMessage& operator=(const CMailMessage&) = delete;
  virtual ~CMailMessage();

  // Adds one recipient of the kind; any other kind stores nothing. Always 1.
  int AddRecipient(LPCTSTR szEmailAddress, LPCTSTR szFriendlyName = "", RECIPIENTS_TYPE type = TO);
  // Adds one recipient per ";"-separated piece ("name <address>" or
  // "address"); 0 at the first piece with a "<" but no ">" after it.
  int AddMultipleRecipients(LPCTSTR szRecipients = nullptr, RECIPIENTS_TYPE type = TO);
  // Copies the recipient at nIndex of the kind; 0 (outputs untouched) when there is none.
  int GetRecipient(CString& sEmailAddress, CString& sFriendlyName, int nIndex = 0, RECIPIENTS_TYPE type = TO);
  int GetNumRecipients(RECIPIENTS_TYPE type = TO);

  // Builds m_sHeader and finishes m_sBody through the protected steps.
  void FormatMessage();

  void SetCharsPerLine(UINT nCharsPerLine);
  UINT GetCharsPerLine();

  CString m_sFrom;
  CString m_sSubject;
  CString m_sReserved;
  CString m_sMailer;
  CString m_sHeader;
  CTime m_tDateTime;
  CString m_sBody;

protected:
  virtual void prepare_header();
  virtual void prepare_body();
  virtual void end_header();
  virtual void start_header();
  // Appends the line and CR LF to the header. A CR LF followed by a blank or
  // a tab and then by more than blanks on that line (a fold) is kept; every
  // other CR or LF becomes a blank, so that no value can start a header line
  // of its own or end the header block early.
  virtual void add_header_line(LPCTSTR szHeaderLine);

  // The text after "Date: ": the current local time with English names and a
  // numeric zone offset, "%a, %d %b %y %H:%M:%S +hhmm".
  static CString format_date(const CTime& t);

  UINT m_nCharsPerLine;

  class CRecipient {
  public:
    CString m_sAddress;
    CString m_sName;
  };

  CArray<CRecipient, const CRecipient&> m_ToRecipients;
  CArray<CRecipient, const CRecipient&> m_CcRecipients;
  CArray<CRecipient, const CRecipient&> m_BccRecipients;

private:
  CArray<CRecipient, const CRecipient&>* list_of(RECIPIENTS_TYPE type);
  // "name<address>" entries of the kind, joined by ",".
  CString recipient_list_text(RECIPIENTS_TYPE type);
};
