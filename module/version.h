// SPDX-License-Identifier: Apache-2.0
// The module's version, for hosts and tools that report it.
#pragma once

#include "framework/core/win_types.h"

// "major.minor.patch" of the loaded module.
AFX_API_EXPORT LPCSTR TarvenkelVersion();
