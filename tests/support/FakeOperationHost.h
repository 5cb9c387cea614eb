// An OperationHost that records what a drive operation showed, and presses
// "Отмена" after a given number of event-processing calls.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "drive/OperationHost.h"

namespace kelvara::test {

class FakeOperationHost : public OperationHost {
 public:
  struct Line {
    std::string text;
    bool selected;
  };

  std::vector<Line> log;                                      // LOG lines since the last ClearLog
  std::vector<std::pair<std::string, std::string>> messages;  // caption, text
  std::vector<std::string> labels;
  int clears = 0;
  int events = 0;
  int progress = 0;
  int progressMax = 0;
  int cancelAfterEvents = -1;  // -1: never

  void ClearLog() override {
    log.clear();
    ++clears;
  }
  void AddLog(const std::string& line, bool select) override { log.push_back({line, select}); }
  void SetTrackLabel(const std::string& text) override { labels.push_back(text); }
  void SetProgress(int position, int maximum) override {
    progress = position;
    progressMax = maximum;
  }
  void ProcessEvents() override { ++events; }
  bool CancelRequested() override { return cancelAfterEvents >= 0 && events >= cancelAfterEvents; }
  void ShowMessage(const std::string& caption, const std::string& text) override {
    messages.emplace_back(caption, text);
  }

  std::vector<std::string> LogTexts() const {
    std::vector<std::string> out;
    for (const Line& l : log)
      out.push_back(l.text);
    return out;
  }
  std::vector<std::string> MessageTexts() const {
    std::vector<std::string> out;
    for (const auto& m : messages)
      out.push_back(m.second);
    return out;
  }
  bool Logged(const std::string& text, bool selected) const {
    for (const Line& l : log)
      if (l.text == text && l.selected == selected) return true;
    return false;
  }
};

}  // namespace kelvara::test
