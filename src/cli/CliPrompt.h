// The Prompt of kelvara-cli. Questions before overwriting are answered Yes by
// --force, by the user when stdin is a terminal, and otherwise declined (No,
// or Cancel where the question offers it) and remembered, so the command can
// say what it did not do. Dialogs are never shown: what they would ask comes
// from the command line. Messages are failures and go to stderr.
#pragma once

#include <string>
#include <vector>

#include "cli/Cli.h"
#include "model/Prompt.h"

namespace kelvara::cli {

class CliPrompt : public Prompt {
 public:
  CliPrompt(Context& ctx, bool force) : ctx_(ctx), force_(force) {}

  Answer AskYesNo(const std::string& caption, const std::string& text) override;
  Answer AskYesNoCancel(const std::string& caption, const std::string& text) override;
  bool AskText(const std::string&, const std::string&, std::string&, int) override { return false; }
  bool PickFolder(const std::string&, std::string&) override { return false; }
  bool PickOpenFiles(const std::string&, const std::string&, const std::string&,
                     std::vector<std::string>&) override {
    return false;
  }
  bool PickSaveFile(const std::string&, const std::string&, const std::string&,
                    std::string&) override {
    return false;
  }
  void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon) override;

  // The questions answered No or Cancel for want of a user.
  const std::vector<std::string>& Declined() const { return declined_; }

 private:
  Answer Ask(const std::string& text, bool withCancel);

  Context& ctx_;
  bool force_;
  std::vector<std::string> declined_;
};

}  // namespace kelvara::cli
