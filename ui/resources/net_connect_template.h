// SPDX-License-Identifier: Apache-2.0
// The bytes of the progress dialog's template (resource 950, type "DIALOG"),
// compiled into the module.
#pragma once

extern const unsigned char g_netConnectTemplate[];  // the binary dialog template
extern const unsigned int g_netConnectTemplateSize;  // its length in bytes
