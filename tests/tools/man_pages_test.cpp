// SPDX-License-Identifier: Apache-2.0
// The manual pages cannot drift from the programs: every option that --help
// prints, and every usage line, appears in the page's source; the sender's
// exit codes and configuration keys are in its page and in the README.
#include "tests/support/process_runner.h"
#include "tests/support/test_paths.h"
#include "tools/send/send_config.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>
#include <string>

namespace tarvenkel::test {
namespace {

// What the tool of the build tree prints for --help, which must exit 0.
std::string Help(const std::string& tool) {
  const ProcessResult run = RunProcess({BinaryPath("tools/" + tool), "--help"});
  EXPECT_EQ(run.status, 0) << tool << " --help: " << run.Describe();
  return run.out;
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

bool IsWordByte(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-'; }

// Where the option name that goes on at start ends.
size_t WordEnd(const std::string& text, size_t start) {
  while (start < text.size() && IsWordByte(text[start])) ++start;
  return start;
}

// Whether the text holds the word with no letter, digit or '-' next to it.
bool HasWord(const std::string& text, const std::string& word) {
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
    if ((at == 0 || !IsWordByte(text[at - 1])) && WordEnd(text, at + word.size()) == at + word.size()) return true;
  return false;
}

TEST(ManPages, EveryOptionAndUsageLineOfHelpIsInThePage) {
  for (const char* tool : {"tarvenkel-send", "tarvenkel-archive-dump"}) {
    const std::string help = Help(tool);
    const std::string page = PlainText(ReadFile(SourcePath(std::string("tools/man/") + tool + ".1.scd")));
    std::set<std::string> options;
    for (size_t at = help.find('-'); at != std::string::npos; at = help.find('-', at + 1)) {
      const size_t letter = help.compare(at, 2, "--") == 0 ? at + 2 : at + 1;
      if ((at > 0 && !std::strchr(" \t\n,([", help[at - 1])) || letter >= help.size() || !std::isalpha(static_cast<unsigned char>(help[letter])))
        continue;
      options.insert(help.substr(at, WordEnd(help, letter) - at));
    }
    EXPECT_FALSE(options.empty()) << tool << " --help lists no options:\n" << help;
    for (const std::string& name : options)
      EXPECT_TRUE(HasWord(page, name)) << tool << ": " << name << " is not in the page";
    for (size_t at = help.find("usage: "); at != std::string::npos; at = help.find("usage: ", at + 1)) {
      const size_t start = at + 7;
      const std::string usage = help.substr(start, help.find('\n', start) - start);
      EXPECT_NE(page.find(usage), std::string::npos) << tool << ": the usage '" << usage << "' is not in the page";
    }
  }
}

TEST(ManPages, TheSendersExitCodesAndKeysAreInThePageAndTheReadme) {
  const std::string help = Help("tarvenkel-send");
  const std::string page = PlainText(ReadFile(SourcePath("tools/man/tarvenkel-send.1.scd")));
  const std::string readme = ReadFile(SourcePath("README.md"));
  // The codes are the lines of the help's table: blanks, a number, two blanks.
  std::set<std::string> codes;
  for (size_t at = help.find("\nExit status"); at != std::string::npos; at = help.find('\n', at + 1)) {
    size_t digit = help.find_first_not_of(' ', at + 1);
    size_t end = digit == std::string::npos ? digit : help.find_first_not_of("0123456789", digit);
    if (end != std::string::npos && end > digit && help.compare(end, 2, "  ") == 0)
      codes.insert(help.substr(digit, end - digit));
  }
  EXPECT_EQ(codes.size(), 10u) << help;
  for (const std::string& code : codes) {
    EXPECT_TRUE(page.find("\n" + code + " (EX_") != std::string::npos || page.find("\n" + code + "\n") != std::string::npos)
        << "exit code " << code << " is not in the page";
    EXPECT_NE(readme.find("| " + code + " |"), std::string::npos) << "exit code " << code << " is not in the README";
  }
  for (const std::string& key : SendConfigKeys()) {
    EXPECT_TRUE(HasWord(page, key + " =") || page.find(key + " = ") != std::string::npos) << key << " is not in the page";
    EXPECT_NE(readme.find("`" + key + "`"), std::string::npos) << key << " is not in the README";
  }
}

}  // namespace
}  // namespace tarvenkel::test
