// SPDX-License-Identifier: Apache-2.0
// Registers the progress dialog's template 950 and clip 905 as resources of
// this module while it is loaded; the framework finds them through the
// module's entry in the chain of extension libraries.
#include "framework/module/resources.h"
#include "ui/resources/connect_clip.h"
#include "ui/resources/net_connect_template.h"
#include "ui/resources/resource.h"

namespace {

class CNetConnectResources {
public:
  CNetConnectResources() : m_hModule(AfxGetModuleHandleOf(g_connectClip)) {
    AfxRegisterResource(m_hModule, RT_DIALOG_TYPE, IDD_NETCONNECT, g_netConnectTemplate, g_netConnectTemplateSize);
    AfxRegisterResource(m_hModule, RT_AVI_TYPE, IDR_CONNECT_AVI, g_connectClip, g_connectClipSize);
  }
  ~CNetConnectResources() { AfxUnregisterResources(m_hModule); }
  CNetConnectResources(const CNetConnectResources&) = delete;
  CNetConnectResources& operator=(const CNetConnectResources&) = delete;

private:
  HINSTANCE m_hModule;
};

CNetConnectResources g_netConnectResources;

}  // namespace

// Nothing names this unit, so a static link would leave it out and the
// template and clip would never be registered; linking the static library
// names this symbol as undefined, which pulls the unit in.
extern "C" AFX_API_EXPORT const char tarvenkel_net_connect_resources = 0;
