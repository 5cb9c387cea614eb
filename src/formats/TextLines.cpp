#include "formats/TextLines.h"

#include "model/CodePage.h"

namespace kelvara {

std::string JoinCrLfLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += Utf8ToCp1251(line);
    text += "\r\n";
  }
  return text;
}

std::vector<std::string> SplitTextLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines.push_back(Cp1251ToUtf8(text.substr(start)));
      break;
    }
    lines.push_back(Cp1251ToUtf8(text.substr(start, end - start)));
    start = end + 1;
    if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
  }
  return lines;
}

}  // namespace kelvara
