// A host program built against the installed package: it uses the framework
// and the module through their installed headers and prints what it saw.
#include "framework/string.h"
#include "record/version.h"

#include <cstdio>

int main() {
  CString line;
  line.Format("version %s", CString(TarvenkelVersion()));
  std::printf("%s\n", static_cast<LPCTSTR>(line));
  return 0;
}
