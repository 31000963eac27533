// The manual pages cannot drift from the programs: every option that --help
// prints, and every usage line, appears in the page's source.
#include "tests/support/test_paths.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <set>
#include <string>

namespace tarvenkel::test {
namespace {

std::string Output(const std::string& command) {
  std::string text;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  EXPECT_EQ(pclose(pipe), 0) << command;
  return text;
}

// The page's text without scdoc's bold and underline marks.
std::string PlainText(const std::string& source) {
  std::string text;
  for (size_t i = 0; i < source.size(); ++i) {
    if (source[i] == '\\' && i + 1 < source.size()) {
      text += source[++i];
    } else if (source[i] != '*' && source[i] != '_') {
      text += source[i];
    }
  }
  return text;
}

TEST(ManPages, EveryOptionAndUsageLineOfHelpIsInThePage) {
  for (const char* tool : {"tarvenkel-send", "tarvenkel-archive-dump"}) {
    const std::string help = Output(BinaryPath(std::string("tools/") + tool) + " --help");
    const std::string page = PlainText(ReadFile(SourcePath(std::string("tools/man/") + tool + ".1.scd")));
    std::set<std::string> options;
    const std::regex option("(^|[\\s,(\\[])(--?[A-Za-z][A-Za-z0-9-]*)");
    for (std::sregex_iterator it(help.begin(), help.end(), option), end; it != end; ++it) options.insert((*it)[2]);
    EXPECT_FALSE(options.empty()) << tool << " --help lists no options:\n" << help;
    for (const std::string& name : options) {
      std::string pattern = "(^|[^A-Za-z0-9-])";
      pattern.append(name).append("([^A-Za-z0-9-]|$)");
      const std::regex inPage(pattern);
      EXPECT_TRUE(std::regex_search(page, inPage)) << tool << ": " << name << " is not in the page";
    }
    for (size_t at = help.find("usage: "); at != std::string::npos; at = help.find("usage: ", at + 1)) {
      const size_t start = at + 7;
      const std::string usage = help.substr(start, help.find('\n', start) - start);
      EXPECT_NE(page.find(usage), std::string::npos) << tool << ": the usage '" << usage << "' is not in the page";
    }
  }
}

}  // namespace
}  // namespace tarvenkel::test
