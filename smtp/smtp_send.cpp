// SPDX-License-Identifier: Apache-2.0
// The one-call send of CSMTP: a notification built from the stored sender, a
// recipient list, a body, a subject and attachments, sent over a connection
// opened and closed for it.
#include "smtp/smtp.h"

#include "framework/core/cmd_target.h"
#include "framework/core/string_array.h"
#include "mail/mail_message.h"
#include "mail/mime_message.h"
#include "smtp/internal/smtp_state.h"

using tarvenkel::detail::CSMTPState;

BOOL CSMTP::SetCharset(LPCTSTR szCharset) {
  // The message checks the name; it keeps it only when it may stand in a header.
  CMailMessage probe;
  if (!probe.SetCharset(szCharset)) return FALSE;
  m_pState->m_sCharset = szCharset;
  return TRUE;
}

BOOL CSMTP::SendMessage(CString sRecipients, CString sBody, CString sSubject, CStringArray* pAttachments) {
  // The busy cursor is shown and taken away at once; nothing holds it while
  // the mail is built or sent.
  AfxGetApp()->BeginWaitCursor();
  AfxGetApp()->EndWaitCursor();
  if (sRecipients.IsEmpty()) return FALSE;
  m_pState->m_sLastReply.Empty();
  m_pState->m_sSocketError.Empty();
  if (sSubject.IsEmpty()) sSubject = "Hello!";
  if (sBody.IsEmpty()) sBody = "Hello!";

  CMIMEMessage msg;
  msg.SetCharset(m_pState->m_sCharset);
  msg.m_sFrom = m_sSender;
  msg.m_sSubject = sSubject;
  msg.m_sBody = sBody;
  msg.AddMultipleRecipients(sRecipients, CMailMessage::TO);
  if (pAttachments != nullptr) {
    for (int i = 0; i < pAttachments->GetSize(); ++i)
      msg.AddMIMEPart(pAttachments->GetAt(i), APPLICATION_OCTETSTREAM, "", ENCODING_BASE64, TRUE);
  }

  if (!Connect()) return FALSE;
  // The call goes through the overridable steps of SendMessage with a
  // message, without its checks of the connection. Their base versions know
  // this message: FormatMailMessage checks it but leaves it unformatted, and
  // transmit_message formats it straight into the data phase, a piece at a
  // time, so an attachment is never held whole in memory and the server takes
  // in the first pieces while the next are encoded. A derived class that
  // formats the message itself, without the base FormatMailMessage, has it
  // sent as SendMessage would. The connection is closed right after, so a
  // failed transaction needs no RSET.
  m_pState->m_pOneCallMessage = &msg;
  BOOL result = FALSE;
  try {
    result = FormatMailMessage(&msg) && transmit_message(&msg);
  } catch (...) {
    // An exception from formatting (out of memory) still leaves the object
    // closed, as every other path does.
    m_pState->forget_one_call_message();
    Disconnect();
    throw;
  }
  m_pState->forget_one_call_message();
  Disconnect();
  return result;
}

void CSMTPState::forget_one_call_message() {
  m_pOneCallMessage = nullptr;
  m_bFormatDeferred = FALSE;
}
