// SPDX-License-Identifier: Apache-2.0
#include "module/version.h"

LPCSTR TarvenkelVersion() {
  return TARVENKEL_VERSION;
}
