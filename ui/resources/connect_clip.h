// SPDX-License-Identifier: Apache-2.0
// The bytes of the progress dialog's animation clip (resource 905, type "AVI"),
// compiled into the module.
#pragma once

extern const unsigned char g_connectClip[];  // the RIFF AVI clip
extern const unsigned int g_connectClipSize;  // its length in bytes
