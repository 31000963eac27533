#include "record/version.h"

LPCSTR TarvenkelVersion() {
  return TARVENKEL_VERSION;
}
