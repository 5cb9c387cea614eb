#include "session/StartupRules.h"

#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace kelvara {

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  // The options that take a value, "--name VALUE" or "--name=VALUE".
  const std::pair<std::string, std::string*> valued[] = {
      {"--virtual-drive", &line.virtualDrive},
      {"--flux", &line.flux},
      {"--flux-sim", &line.fluxSim},
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool taken = false;
    for (const auto& [name, value] : valued) {
      if (a == name) {
        if (i + 1 < args.size()) *value = args[++i];
        taken = true;
      } else if (a.rfind(name + "=", 0) == 0) {
        *value = a.substr(name.size() + 1);
        taken = true;
      }
    }
    if (taken) continue;
    if (a == "--version") {
      line.version = true;
    } else if (a == "--help" || a == "-h") {
      line.help = true;
    } else if (line.image.empty()) {
      line.image = a;
    }
  }
  return line;
}

std::string AbsolutePath(const std::string& path, const std::string& folder) {
  if (path.empty() || path.front() == '/' || folder.empty()) return path;
  return folder + (folder.back() == '/' ? "" : "/") + path;
}

std::string HandoffMessage(const std::string& image, const std::string& currentFolder) {
  return image.empty() ? "s" : "v" + AbsolutePath(image, currentFolder);
}

std::optional<std::string> HandoffPath(std::string_view message) {
  if (message.size() < 2 || message.size() > kMaxHandoffMessage || message.front() != 'v') {
    return std::nullopt;
  }
  return std::string(message.substr(1));
}

DropAction ClassifyDrop(int x, int y, const MapArea& map, int fileCount) {
  if (fileCount <= 0) return DropAction::Ignore;
  const bool onMap =
      x >= map.left && x < map.left + map.width && y >= map.top && y < map.top + map.height;
  if (!onMap || fileCount > 1) return DropAction::Beep;
  return DropAction::Load;
}

int RaisePriority() {
  // Drive operations run on the window thread and time their retries by the
  // disk's turn; a higher priority keeps other work from stretching them.
  // Ordinary users may not go below their nice limit, so try the strongest
  // step first and settle for what is allowed.
  for (int nice = -10; nice < 0; ++nice) {
    if (::setpriority(PRIO_PROCESS, 0, nice) == 0) return nice;
  }
  errno = 0;
  return ::getpriority(PRIO_PROCESS, 0);
}

int FixedWindowWidth(int designedWidth, int captionTextWidth, int titleBarHeight) {
  constexpr int kTitleBarParts = 4;  // the icon, and up to three buttons
  return std::max(designedWidth, captionTextWidth + kTitleBarParts * titleBarHeight);
}

MainWindowPlacement PlaceMainWindow(int screenWidth, int screenHeight, int frameWidth,
                                    int frameHeight) {
  MainWindowPlacement p;
  p.maximized =
      kMainWindowWidth + frameWidth > screenWidth || kMainWindowHeight + frameHeight > screenHeight;
  p.minimumWidth = std::min(kMainWindowMinimumWidth, std::max(screenWidth - frameWidth, 0));
  if (p.maximized) {
    p.width = std::min(kMainWindowWidth, std::max(screenWidth - frameWidth, 0));
    p.height = std::min(kMainWindowHeight, std::max(screenHeight - frameHeight, 0));
  }
  return p;
}

}  // namespace kelvara
