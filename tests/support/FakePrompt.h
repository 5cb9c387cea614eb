// A Prompt that answers from a script and records everything it was asked
// and shown, for tests of core commands.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "model/Prompt.h"

namespace kelvara::test {

class FakePrompt : public Prompt {
 public:
  struct Message {
    std::string caption, text;
    MessageIcon icon;
  };

  // Scripted answers, taken in order; when a queue is empty the answer is
  // Yes, the preset text, the preset folder, no files and no save file.
  std::deque<Answer> answers;
  std::deque<std::string> texts;  // for AskText
  std::deque<std::string> folders;
  std::deque<std::vector<std::string>> openFiles;
  std::deque<std::string> saveFiles;

  std::vector<std::string> questions;      // caption + "|" + text of every question
  std::vector<std::string> proposedFiles;  // the names the save dialogs proposed
  std::vector<Message> messages;

  Answer AskYesNo(const std::string& caption, const std::string& text) override {
    questions.push_back(caption + "|" + text);
    return Next(answers, Answer::Yes);
  }
  Answer AskYesNoCancel(const std::string& caption, const std::string& text) override {
    questions.push_back(caption + "|" + text);
    return Next(answers, Answer::Yes);
  }
  bool AskText(const std::string& caption, const std::string& label, std::string& value,
               int maxLength) override {
    questions.push_back(caption + "|" + label);
    if (texts.empty()) return true;
    value = Next(texts, std::string()).substr(0, static_cast<size_t>(maxLength));
    return true;
  }
  bool PickFolder(const std::string& caption, std::string& folder) override {
    questions.push_back(caption);
    if (!folders.empty()) folder = Next(folders, std::string());
    return !folder.empty();
  }
  bool PickOpenFiles(const std::string& caption, const std::string&, const std::string&,
                     std::vector<std::string>& files) override {
    questions.push_back(caption);
    files = Next(openFiles, std::vector<std::string>());
    return !files.empty();
  }
  bool PickSaveFile(const std::string& caption, const std::string&, const std::string&,
                    std::string& file) override {
    questions.push_back(caption);
    proposedFiles.push_back(file);
    file = Next(saveFiles, std::string());
    return !file.empty();
  }
  void ShowMessage(const std::string& caption, const std::string& text, MessageIcon icon) override {
    messages.push_back({caption, text, icon});
  }

  // Texts of all messages shown, in order.
  std::vector<std::string> MessageTexts() const {
    std::vector<std::string> out;
    for (const auto& m : messages)
      out.push_back(m.text);
    return out;
  }

 private:
  template <typename T>
  static T Next(std::deque<T>& q, T fallback) {
    if (q.empty()) return fallback;
    T v = std::move(q.front());
    q.pop_front();
    return v;
  }
};

}  // namespace kelvara::test
