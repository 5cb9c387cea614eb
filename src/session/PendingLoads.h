// The image is never replaced while a modal window of the program is open:
// such a window (a catalog window, the entry editor, the sector address
// dialog, a question, a drive run) holds records and slots of the image it
// was opened on, and would go on working on them in a new one. Files that
// arrive meanwhile (handed over by a second copy, dropped on the map) wait
// here and are loaded once the last such window has closed, in the order
// they came.
#pragma once

#include <deque>
#include <optional>
#include <string>

namespace kelvara {

class PendingLoads {
 public:
  // Modal windows nest: the entry editor opens over the catalog window, a
  // question over either.
  void WindowOpened() { ++open_; }
  // True when this closed the last open window and files wait for loading.
  bool WindowClosed();
  bool WindowsOpen() const { return open_ > 0; }

  // A file to load; it waits behind any file that came before it.
  void Add(std::string path) { waiting_.push_back(std::move(path)); }
  // The next file to load: none while a modal window is open.
  std::optional<std::string> Next();

 private:
  int open_ = 0;
  std::deque<std::string> waiting_;
};

}  // namespace kelvara
