#include "module/version.h"

LPCSTR TarvenkelVersion() {
  return TARVENKEL_VERSION;
}
