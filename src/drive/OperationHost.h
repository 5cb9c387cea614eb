// The port through which a drive operation shows what it does and learns
// whether to stop. The progress window hosts it in the desktop program
// (LOG list, track label, progress bar, "Отмена"), kelvara-cli with its
// output and a progress line on stderr, tests with a recording fake.
#pragma once

#include <string>

namespace kelvara {

class OperationHost {
 public:
  virtual ~OperationHost() = default;

  // Empties the LOG list and brings its page to the front.
  virtual void ClearLog() = 0;
  // Adds a line to the LOG list; a selected line becomes the list's
  // selection, which scrolls it into view.
  virtual void AddLog(const std::string& line, bool select) = 0;
  // The value shown after "Дорожка -".
  virtual void SetTrackLabel(const std::string& text) = 0;
  virtual void SetProgress(int position, int maximum) = 0;
  // Lets the window repaint and its cancel button be pressed.
  virtual void ProcessEvents() = 0;
  virtual bool CancelRequested() = 0;
  // A modal message box with an OK button.
  virtual void ShowMessage(const std::string& caption, const std::string& text) = 0;
};

}  // namespace kelvara
