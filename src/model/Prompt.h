// The port through which core commands ask the user and tell them things.
// The desktop program answers with dialogs, kelvara-cli with its flags and
// stdin, tests with a scripted fake that also records every message shown.
#pragma once

#include <string>
#include <vector>

namespace kelvara {

enum class Answer { Yes, No, Cancel };
enum class MessageIcon { Information, Warning, Error, Question, None };

class Prompt {
 public:
  virtual ~Prompt() = default;

  // A Yes/No question; Cancel is never returned.
  virtual Answer AskYesNo(const std::string& caption, const std::string& text) = 0;
  virtual Answer AskYesNoCancel(const std::string& caption, const std::string& text) = 0;
  // A line of text, preset with `value`; false when the user cancels.
  virtual bool AskText(const std::string& caption, const std::string& label, std::string& value,
                       int maxLength) = 0;
  // A folder, starting at `folder` (ending in "/"); false when cancelled.
  virtual bool PickFolder(const std::string& caption, std::string& folder) = 0;
  // Files to open; `filter` as "Name (*.a)|*.a|..." pairs; false when cancelled.
  virtual bool PickOpenFiles(const std::string& caption, const std::string& filter,
                             const std::string& folder, std::vector<std::string>& files) = 0;
  // A file to save, preset with `file`; false when cancelled.
  virtual bool PickSaveFile(const std::string& caption, const std::string& filter,
                            const std::string& folder, std::string& file) = 0;
  virtual void ShowMessage(const std::string& caption, const std::string& text,
                           MessageIcon icon) = 0;
};

}  // namespace kelvara
