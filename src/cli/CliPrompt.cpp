#include "cli/CliPrompt.h"

#include <unistd.h>

#include <iostream>
#include <ostream>

namespace kelvara::cli {

Answer CliPrompt::AskYesNo(const std::string&, const std::string& text) {
  return Ask(text, false);
}

Answer CliPrompt::AskYesNoCancel(const std::string&, const std::string& text) {
  return Ask(text, true);
}

Answer CliPrompt::Ask(const std::string& text, bool withCancel) {
  if (force_) return Answer::Yes;
  if (!::isatty(STDIN_FILENO)) {
    declined_.push_back(text);
    return withCancel ? Answer::Cancel : Answer::No;
  }
  ctx_.err << text << (withCancel ? " [y/n/C] " : " [y/N] ") << std::flush;
  std::string line;
  std::getline(std::cin, line);
  const char c = line.empty() ? '\0' : line[0];
  if (c == 'y' || c == 'Y') return Answer::Yes;
  if (withCancel && (c == 'n' || c == 'N')) return Answer::No;
  return withCancel ? Answer::Cancel : Answer::No;
}

void CliPrompt::ShowMessage(const std::string&, const std::string& text, MessageIcon icon) {
  if (icon == MessageIcon::Information) {
    ctx_.out << text << "\n";
  } else {
    ctx_.Fail(text);
  }
}

}  // namespace kelvara::cli
