#include "mail/header_text.h"

namespace tarvenkel {

std::string HeaderText(std::string_view text) {
  std::string line(text);
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '\r' && line[i] != '\n') continue;
    bool fold = line[i] == '\r' && i + 2 < line.size() && line[i + 1] == '\n' &&
                (line[i + 2] == ' ' || line[i + 2] == '\t');
    if (fold) {
      std::size_t j = i + 2;
      while (j < line.size() && (line[j] == ' ' || line[j] == '\t')) ++j;
      fold = j < line.size() && line[j] != '\r' && line[j] != '\n';
    }
    if (fold) {
      ++i;
      continue;
    }
    line[i] = ' ';
  }
  return line;
}

}  // namespace tarvenkel
