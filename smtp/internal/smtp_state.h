// The SMTP client's parts that its source files share and hosts never see.
#pragma once

#include "framework/core/string.h"

#include <string>

namespace tarvenkel::detail {

// The bytes one receive of a reply may take; the reply buffer holds as many.
inline constexpr int kReplyBufferSize = 1024;

// Whether an EHLO line names the extension: the keyword, in any case,
// followed by the end of the line, a space, or the '=' of the old
// "AUTH=LOGIN" form. The rest of the line after that goes to pRest when it is
// not null.
bool NamesExtension(const CString& sLine, const char* szKeyword, std::string* pRest);

}  // namespace tarvenkel::detail
