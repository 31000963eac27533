#include "tests/support/smtp_client.h"

namespace tarvenkel::test {

void Configure(CSMTP& smtp, const ClientSettings& settings) {
  smtp.SetParams(settings.host.c_str(), settings.sender.c_str(), settings.port, settings.user.c_str(),
                 settings.password.c_str());
  smtp.SetSecurity(settings.security);
  if (!settings.caFile.empty()) smtp.SetCAFile(settings.caFile.c_str());
  smtp.SetShortDialogue(settings.shortDialogue ? TRUE : FALSE);
  if (settings.timeout >= 0) smtp.SetTimeout(static_cast<UINT>(settings.timeout));
  if (!settings.charset.empty()) smtp.SetCharset(settings.charset.c_str());
}

}  // namespace tarvenkel::test
