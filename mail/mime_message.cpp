// SPDX-License-Identifier: Apache-2.0
#include "mail/mime_message.h"

#include "mail/app_octet_stream.h"
#include "mail/encoded_word.h"
#include "mail/mime_output.h"
#include "mail/text_plain.h"

#include "framework/core/split_path.h"

#include <cstdint>
#include <string>

namespace tarvenkel::detail {
// The members of a CMIMEMessage that hosts never see.
struct MIMEMessageState {
  CStringArray m_FailedParts;  // the contents of the parts last written incompletely
};
}  // namespace tarvenkel::detail

CMIMEMessage::CMIMETypeManager::~CMIMETypeManager() {
  CSingleLock lock(&m_csAccess, TRUE);
  for (POSITION pos = m_AgentList.GetHeadPosition(); pos != nullptr;) delete m_AgentList.GetNext(pos);
  m_AgentList.RemoveAll();
  m_pFallback = m_pAttachment = nullptr;
}

void CMIMEMessage::CMIMETypeManager::RegisterAgent(CMIMEContentAgent* pMIMEAgent) {
  if (pMIMEAgent == nullptr) return;
  CSingleLock lock(&m_csAccess, TRUE);
  m_AgentList.AddTail(pMIMEAgent);
  m_pFallback = pMIMEAgent;
}

CMIMEContentAgent* CMIMEMessage::CMIMETypeManager::FindAgent(int nContentType) {
  CSingleLock lock(&m_csAccess, TRUE);
  for (POSITION pos = m_AgentList.GetHeadPosition(); pos != nullptr;) {
    CMIMEContentAgent* pAgent = m_AgentList.GetNext(pos);
    if (pAgent->QueryType(nContentType)) return pAgent;
  }
  return m_pFallback;
}

int CMIMEMessage::CMIMETypeManager::GetAgentCount() {
  CSingleLock lock(&m_csAccess, TRUE);
  return static_cast<int>(m_AgentList.GetCount());
}

bool CMIMEMessage::CMIMETypeManager::claims(int nContentType) {
  for (POSITION pos = m_AgentList.GetHeadPosition(); pos != nullptr;) {
    if (m_AgentList.GetNext(pos)->QueryType(nContentType)) return true;
  }
  return false;
}

CMIMEMessage::CMIMEMessage()
    : m_sPreamble("This is a multi-part message in MIME format."),
      m_sBoundary("ZOLVANE_PaRt_BoUnDaRy_05151998"),
      m_sContentType("multipart/mixed"),
      m_pMIMEState(std::make_unique<tarvenkel::detail::MIMEMessageState>()) {
  // The check and the registration happen under one hold of the lock, so
  // that messages constructed at the same time on several threads add one
  // agent per code between them. The critical section lets the same thread
  // enter again in RegisterAgent.
  CSingleLock lock(&m_MIMETypeManager.m_csAccess, TRUE);
  if (!m_MIMETypeManager.claims(TEXT_PLAIN)) register_mime_type(new CTextPlain(TEXT_PLAIN, GetCharsPerLine()));
  // The attachment agent is registered once, even after a host's agent for
  // its code (which then keeps serving that code), so that it can be the
  // fallback. Every construction registers it again in effect: an unknown
  // code goes to it until the host registers an agent of its own.
  if (m_MIMETypeManager.m_pAttachment == nullptr) {
    m_MIMETypeManager.m_pAttachment = new CAppOctetStream(APPLICATION_OCTETSTREAM);
    register_mime_type(m_MIMETypeManager.m_pAttachment);
  }
  m_MIMETypeManager.m_pFallback = m_MIMETypeManager.m_pAttachment;
}

CMIMEMessage::~CMIMEMessage() { m_PartList.RemoveAll(); }

const CStringArray& CMIMEMessage::GetFailedParts() const { return m_pMIMEState->m_FailedParts; }

CStringArray& CMIMEMessage::failed_parts() { return m_pMIMEState->m_FailedParts; }

CMIMEMessage::CMIMETypeManager& CMIMEMessage::mime_type_manager() { return m_MIMETypeManager; }

void CMIMEMessage::register_mime_type(CMIMEContentAgent* pMIMEAgent) {
  if (pMIMEAgent != nullptr) m_MIMETypeManager.RegisterAgent(pMIMEAgent);
}

int CMIMEMessage::AddMIMEPart(LPCTSTR szContent, int nContentType, LPCTSTR szParameters, int nEncoding, BOOL bPath) {
  CMIMEPart part;
  part.m_nEncoding = nEncoding;
  part.m_nContentType = nContentType;
  part.m_sParameters = szParameters;
  part.m_bPath = bPath;
  part.m_sContent = szContent;
  part.m_sContent.TrimLeft();
  part.m_sContent.TrimRight();
  if (nContentType == TEXT_PLAIN) m_PartList.AddHead(part);
  else m_PartList.AddTail(part);
  return 1;
}

void CMIMEMessage::choose_boundary() {
  const auto occurs = [this](const CString& delimiter) {
    if (m_sBody.Find(delimiter) >= 0) return true;
    for (POSITION pos = m_PartList.GetHeadPosition(); pos != nullptr;) {
      const CMIMEPart& part = m_PartList.GetNext(pos);
      if (part.m_sContent.Find(delimiter) >= 0 || part.m_sParameters.Find(delimiter) >= 0) return true;
    }
    return false;
  };
  const CString base = m_sBoundary;
  for (int n = 1; occurs("--" + m_sBoundary); ++n) m_sBoundary.Format("%s_%d", base.GetString(), n);
}

void CMIMEMessage::prepare_header() {
  choose_boundary();
  add_message_fields();
  add_header_line("MIME-Version: 1.0");
  CString line;
  line.Format("Content-Type: %s; boundary=%s", m_sContentType.GetString(), m_sBoundary.GetString());
  add_header_line(line);
}

void CMIMEMessage::prepare_body() {
  if (!m_sBody.IsEmpty()) AddMIMEPart(m_sBody, TEXT_PLAIN, "", ENCODING_7BIT, FALSE);
  m_sBody = m_sPreamble;
  m_sBody += "\r\n\r\n";
  failed_parts().RemoveAll();
  append_mime_parts();
  // The closing line ends with CR LF, all that CMailMessage::prepare_body
  // would add; the multipart text itself is never encoded again.
  insert_message_end(m_sBody);
}

void CMIMEMessage::append_mime_parts() {
  tarvenkel::detail::StringOutput out(m_sBody);
  add_parts(out);
}

void CMIMEMessage::write_body(CFile& file) {
  // prepare_body queues the body's text as the first text part for good;
  // here it leaves the queue again however the writing ends.
  const bool queued = !m_sBody.IsEmpty();
  if (queued) AddMIMEPart(m_sBody, TEXT_PLAIN, "", ENCODING_7BIT, FALSE);
  struct Unqueue {
    CList<CMIMEPart, const CMIMEPart&>& parts;
    bool active;
    ~Unqueue() {
      if (active) parts.RemoveHead();
    }
  } unqueue{m_PartList, queued};
  tarvenkel::detail::FileOutput out(file);
  out.Append(m_sPreamble);
  out.Append("\r\n\r\n", 4);
  failed_parts().RemoveAll();
  add_parts(out);
  // The closing line ends with CR LF, all that CMailMessage::prepare_body adds.
  put_delimiter(out, true);
  out.Flush();
}

void CMIMEMessage::add_parts(tarvenkel::detail::MimeOutput& out) {
  for (POSITION pos = m_PartList.GetHeadPosition(); pos != nullptr;) {
    const CMIMEPart& part = m_PartList.GetNext(pos);
    CMIMEContentAgent* pAgent = m_MIMETypeManager.FindAgent(part.m_nContentType);
    if (pAgent == nullptr) continue;
    put_delimiter(out, false);
    const std::uint64_t nBefore = out.Count();
    // 8-bit text, or an attachment's 8-bit file name, is in the message's
    // charset unless the part's parameters name one.
    CString parameters = part.m_sParameters;
    if (tarvenkel::HasEightBit(part.m_sContent.str()) && tarvenkel::CharsetParameter(parameters.str()).empty())
      parameters += "; charset=" + charset_for(part.m_sContent.str());
    if (out.AddPart(*pAgent, part.m_sContent, parameters, part.m_nEncoding, part.m_bPath)) continue;
    failed_parts().Add(part.m_sContent);
    if (out.Count() == nBefore) out.Append("\r\n", 2);
  }
}

void CMIMEMessage::put_delimiter(tarvenkel::detail::MimeOutput& out, bool bClosing) {
  if (!out.EndsWithCrLf()) out.Append("\r\n", 2);
  CString line;
  if (bClosing) line.Format("--%s--\r\n", m_sBoundary.GetString());
  else line.Format("--%s\r\n", m_sBoundary.GetString());
  out.Append(line);
}

void CMIMEMessage::insert_boundary(CString& sText) {
  tarvenkel::detail::StringOutput out(sText);
  put_delimiter(out, false);
}

void CMIMEMessage::insert_message_end(CString& sText) {
  tarvenkel::detail::StringOutput out(sText);
  put_delimiter(out, true);
}

BOOL CMIMEMessage::CheckCharset(CString& sText, CString& sCharset) {
  if (!CMailMessage::CheckCharset(sText, sCharset)) return FALSE;
  int nText = 0;
  for (POSITION pos = m_PartList.GetHeadPosition(); pos != nullptr;) {
    const CMIMEPart& part = m_PartList.GetNext(pos);
    if (!tarvenkel::HasEightBit(part.m_sContent.str())) continue;
    // What a reader sees of an attachment is its file name; of a text part, all of it.
    const std::string charset = tarvenkel::CharsetParameter(part.m_sParameters.str());
    std::string text = part.m_sContent.str();
    CString what;
    if (part.m_nContentType == TEXT_PLAIN) {
      what.Format("text part %d", ++nText);
    } else {
      char fname[_MAX_FNAME];
      char ext[_MAX_EXT];
      _splitpath(part.m_sContent, nullptr, nullptr, fname, ext);
      text = std::string(fname) + ext;
      what = "the file name of " + part.m_sContent;
    }
    const CString label = charset.empty() ? charset_for(text) : CString(std::string_view(charset));
    if (!tarvenkel::IsValidInCharset(text, label)) {
      sText = what;
      sCharset = label;
      return FALSE;
    }
  }
  return TRUE;
}
