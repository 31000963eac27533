// SPDX-License-Identifier: Apache-2.0
// CMIMEMessage: a mail message whose body is a MIME multipart text. Queued
// parts are written between boundary lines by content agents, found by
// content-type code in a registry shared by every message of the process.
#pragma once

#include "framework/core/collections.h"
#include "framework/core/critical_section.h"
#include "framework/core/string_array.h"
#include "mail/mail_message.h"
#include "mail/mime_content_agent.h"

#include <memory>

namespace tarvenkel::detail {
class MimeOutput;
struct MIMEMessageState;
}

class AFX_EXT_CLASS CMIMEMessage : public CMailMessage {
public:
  using enum MIME_CONTENT_TYPE;
  using enum MIME_ENCODING;

  // Registers a text agent for TEXT_PLAIN when no agent in the registry
  // claims it yet, and the process's attachment agent once. Each construction
  // makes that attachment agent the registry's fallback again, as if it had
  // been registered anew, without adding an entry.
  CMIMEMessage();
  ~CMIMEMessage() override;

  // Queues a part: text parts (TEXT_PLAIN) go to the head of the list, every
  // other part to the tail. The content is stored without surrounding white
  // space. Always 1.
  int AddMIMEPart(LPCTSTR szContent, int nContentType = APPLICATION_OCTETSTREAM, LPCTSTR szParameters = "",
                  int nEncoding = ENCODING_BASE64, BOOL bPath = TRUE);

  // CMailMessage::CheckCharset, then each queued text part ("text part 1"
  // for the first) and each attachment's file name ("the file name of"
  // and the path), in the charset its parameters name or else the one it is
  // labelled with. Hides the check of CMailMessage, which does not see the parts.
  BOOL CheckCharset(CString& sText, CString& sCharset);

  // The content (for an attachment, the path) of each part that the last
  // FormatMessage or WriteMessage could not write whole, in the order of the parts: an
  // attachment that could not be opened (it is sent as an empty part) or
  // not read to its end (it is sent cut short). Empty when every part was
  // written.
  const CStringArray& GetFailedParts() const;

  // The process-wide registry of content agents. It owns them and deletes
  // them when it is destroyed.
  class AFX_EXT_CLASS CMIMETypeManager {
  public:
    CMIMETypeManager() = default;
    CMIMETypeManager(const CMIMETypeManager&) = delete;
    CMIMETypeManager& operator=(const CMIMETypeManager&) = delete;
    virtual ~CMIMETypeManager();

    // Appends a non-null agent, which becomes the fallback; no check for
    // duplicates.
    void RegisterAgent(CMIMEContentAgent* pMIMEAgent);
    // The first registered agent that claims the code, else the fallback:
    // the most recently registered agent, where the construction of a
    // message counts as registering the attachment agent again. Null only
    // when the registry is empty.
    CMIMEContentAgent* FindAgent(int nContentType);
    // The number of registered agents.
    int GetAgentCount();

  private:
    friend class CMIMEMessage;
    // True when some registered agent claims the code; the caller holds m_csAccess.
    bool claims(int nContentType);

    CCriticalSection m_csAccess;
    CList<CMIMEContentAgent*, CMIMEContentAgent*> m_AgentList;
    CMIMEContentAgent* m_pFallback = nullptr;    // what FindAgent gives for a code nobody claims
    CMIMEContentAgent* m_pAttachment = nullptr;  // the attachment agent messages register
  };

protected:
  // One queued part, as AddMIMEPart stored it.
  class CMIMEPart {
  public:
    int m_nEncoding = ENCODING_7BIT;  // a MIME_ENCODING code
    int m_nContentType = TEXT_PLAIN;  // a MIME_CONTENT_TYPE code (or a host's own)
    CString m_sParameters;            // handed to the agent as given
    BOOL m_bPath = FALSE;             // m_sContent names a file rather than holding the text
    CString m_sContent;               // the text, or the path of the file to attach
  };

  // Adds the MIME-Version and multipart Content-Type lines.
  void prepare_header() override;
  // Queues the plain body as the first text part, then writes preamble,
  // parts and closing boundary into m_sBody.
  void prepare_body() override;
  // Writes each queued part that has an agent, after its boundary line, and
  // notes the parts whose agent reports a failure. A part whose content (a
  // text, or an attachment's path) holds bytes of 0x80 and above is handed
  // "; charset=" and GetCharset after its parameters, unless they name a
  // charset already. A part that wrote nothing
  // gets an empty line, so that it stays a valid empty part: a boundary line
  // right after another one is not a delimiter, and readers then miss the
  // closing line when the failed part is the last.
  virtual void append_mime_parts();
  // Writes preamble, parts and closing boundary into the file as
  // prepare_body builds them, each part through its agent's WritePart, and
  // notes the failed parts as append_mime_parts does. The body's text is
  // queued as the first text part only while the parts are written, so
  // m_sBody and the queue stay as the host set them. A class that changes
  // prepare_body or append_mime_parts changes this to match.
  void write_body(CFile& file) override;

  // Appends "--boundary" on a line of its own (after a CR LF if sText does not end with one).
  void insert_boundary(CString& sText);
  // Appends the closing "--boundary--" line the same way.
  void insert_message_end(CString& sText);
  // Hands a non-null agent to the registry.
  void register_mime_type(CMIMEContentAgent* pMIMEAgent);
  // The registry, for messages that add content types of their own.
  static CMIMETypeManager& mime_type_manager();

  CString m_sPreamble;     // the text before the first boundary, for readers without MIME
  CString m_sBoundary;     // the boundary string, the same for every message unless a text holds it
  CString m_sContentType;  // "multipart/mixed"
  CList<CMIMEPart, const CMIMEPart&> m_PartList;  // the queued parts, in the order they are written

  // The list GetFailedParts returns, for a class that writes parts of its
  // own in append_mime_parts: it empties it before writing and adds the
  // content of each part it could not write whole.
  CStringArray& failed_parts();

private:
  // A text that held a line "--" + boundary would end its part there and
  // start one of its writer's choosing. So while the body or a queued part
  // contains "--" + boundary anywhere, the boundary gets a suffix "_1",
  // "_2", ...; other messages keep the usual one.
  void choose_boundary();
  // Writes each queued part that has an agent into out (see
  // append_mime_parts): the one loop behind FormatMessage and WriteMessage.
  void add_parts(tarvenkel::detail::MimeOutput& out);
  // Appends the boundary line, or the closing one, after a CR LF when out
  // does not end with one.
  void put_delimiter(tarvenkel::detail::MimeOutput& out, bool bClosing);

  // Built when the module loads and destroyed when it unloads, by the
  // module's start-up sequence, which owns the object behind this reference.
  static CMIMETypeManager& m_MIMETypeManager;

  // Everything else (the failed parts). Held by pointer, so that adding to
  // it does not change the layout of a host's class derived from this one.
  std::unique_ptr<tarvenkel::detail::MIMEMessageState> m_pMIMEState;
};
