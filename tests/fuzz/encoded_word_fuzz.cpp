// SPDX-License-Identifier: Apache-2.0
// 8-bit header texts and file names written as a reader decodes them:
// decode(encode(x)) == x. The first input byte chooses the charset (bit 0:
// GBK or UTF-8) and the kind (bit 1: a subject or an attachment's file
// name); the rest, up to 1000 bytes, is the text in that charset.
#include "framework/core/code_page.h"
#include "framework/core/split_path.h"
#include "mail/app_octet_stream.h"
#include "mail/encoded_word.h"
#include "tests/support/mime_words.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

class Attachment : public CAppOctetStream {
public:
  Attachment() : CAppOctetStream(APPLICATION_OCTETSTREAM) {}
  std::string SubHeader(const std::string& path, const char* szCharset) {
    const std::string parameters = std::string("; charset=") + szCharset;
    return build_sub_header(path.c_str(), parameters.c_str(), ENCODING_BASE64, TRUE).str();
  }
};

void check(bool ok) {
  if (!ok) std::abort();
}

// The lines of a header block, each at most the width, unfolded into fields.
std::vector<std::string> fields(const std::string& block, std::size_t nWidth) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t end; (end = block.find("\r\n", start)) != std::string::npos; start = end + 2) {
    const std::string line = block.substr(start, end - start);
    check(line.size() <= nWidth);
    if (line.empty()) continue;
    if (line[0] == ' ' && !out.empty()) out.back() += line;
    else out.push_back(line);
  }
  return out;
}

// The words of text decode, each on its own, to whole characters of the
// code page, and together to text; every B word but the last holds whole
// groups of three bytes.
void check_words(const std::string& value, const char* szCharset, UINT nCodePage, const std::string& text) {
  std::vector<tarvenkel::test::EncodedWord> words;
  check(tarvenkel::test::DecodeWords(value, words));
  // Whole characters and whole groups of three are promised for text that
  // is valid in its charset; any text must come back byte for byte.
  const bool valid = tarvenkel::IsValidInCharset(text, szCharset);
  std::string joined;
  for (const auto& word : words) {
    check(word.charset == szCharset && word.text.size() <= tarvenkel::kEncodedWordWidth);
    joined += word.bytes;
    if (!valid) continue;
    // No "=" padding inside a run: readers join its words before decoding.
    check(&word == &words.back() || word.text.find("?B?") == std::string::npos || word.bytes.size() % 3 == 0);
    // Each word ends where a character of the whole text ends.
    std::size_t at = 0;
    while (at < joined.size())
      at += static_cast<std::size_t>(AfxCharLength(nCodePage, text.data() + at, text.size() - at));
    check(at == joined.size());
  }
  check(joined == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const bool utf8 = (data[0] & 1) != 0;
  const bool fileName = (data[0] & 2) != 0;
  const char* charset = utf8 ? "UTF-8" : "GBK";
  const UINT nCodePage = utf8 ? CP_UTF8 : 936;
  std::string text(reinterpret_cast<const char*>(data + 1), std::min<std::size_t>(size - 1, 1000));
  for (char& c : text)
    if (c == '\0') c = ' ';
  const std::string expected = tarvenkel::WithoutLineBreaks(text);
  if (!fileName) {
    tarvenkel::HeaderFolder line("Subject: ", tarvenkel::kEncodedLineWidth);
    line.AddEncoded(expected, charset, nCodePage, false);
    const std::vector<std::string> out = fields(line.Text() + "\r\n", tarvenkel::kEncodedLineWidth);
    check(out.size() == 1 && out[0].rfind("Subject: ", 0) == 0);
    check_words(out[0].substr(9), charset, nCodePage, expected);
    return 0;
  }
  // The name as the path splitter of the code page gives it.
  AfxSetAnsiCodePage(nCodePage);
  const std::string path = "C:\\alarms/" + text;
  char fname[_MAX_FNAME], ext[_MAX_EXT];
  _splitpath(path.c_str(), nullptr, nullptr, fname, ext);
  const std::string name = tarvenkel::WithoutLineBreaks(std::string(fname) + ext);
  if (!tarvenkel::HasEightBit(name)) return 0;
  Attachment agent;
  const std::vector<std::string> out = fields(agent.SubHeader(path, charset), tarvenkel::kEncodedLineWidth);
  check(out.size() == 3);
  std::string value, label;
  check(tarvenkel::test::ParameterValue(out[2], "filename", true, value, label) && label == charset && value == name);
  check(tarvenkel::test::ParameterValue(out[2], "filename", false, value, label));
  check_words(value, charset, nCodePage, name);
  check(tarvenkel::test::ParameterValue(out[0], "file", false, value, label));
  check_words(value, charset, nCodePage, name);
  return 0;
}
