// The rules of the program's start that need no window: the hand-off of a
// file from a second copy to the running one, where a dropped file counts,
// and the raised priority.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvara {

// What the command line asks for: the image is the first argument that is
// not an option; "--virtual-drive FILE" (or "--virtual-drive=FILE") puts a
// disk image into the virtual drive instead of opening the floppy; "--flux
// NODE" reads through a Greaseweazle on that serial node, "--flux-sim FILE"
// through a simulated one holding that image;
// "--version" and "--help" print their text and start nothing.
struct CommandLine {
  std::string image;
  std::string virtualDrive;
  std::string flux;
  std::string fluxSim;
  bool version = false;
  bool help = false;
};
inline constexpr const char* kVersionText = "kelvara 0.1.0";
inline constexpr const char* kUsageText =
    "Usage: kelvara [--virtual-drive IMAGE | --flux NODE | --flux-sim IMAGE] [IMAGE]\n"
    "       kelvara --help | --version\n"
    "ZX Spectrum floppy disks and their image files: the desktop program.\n"
    "  IMAGE                  an image file to open\n"
    "  --virtual-drive IMAGE  an image in a virtual drive in place of the floppy drive\n"
    "  --flux NODE            read disks through a Greaseweazle (/dev/ttyACM0)\n"
    "  --flux-sim IMAGE       read disks through a simulated Greaseweazle holding IMAGE\n";
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// A path as given, made absolute against `folder` when it is relative:
// status texts show full paths, and a path handed to another copy has to
// mean the same file there.
std::string AbsolutePath(const std::string& path, const std::string& folder);

// A hand-off message is "v" + the image path (load it) or "s" (just come to
// the front); its bytes travel unchanged.
// Longer messages cannot carry a path (PATH_MAX counts the terminator) and
// are dropped unread.
inline constexpr size_t kMaxHandoffMessage = 4096;

// The message a second copy sends for its command-line image ("" for none),
// the path made absolute against the second copy's folder.
std::string HandoffMessage(const std::string& image, const std::string& currentFolder);
// The path to load for a received message; nullopt for "s", for messages of
// any other kind, for an empty path and for oversized messages.
std::optional<std::string> HandoffPath(std::string_view message);

// A dropped file is loaded only when the drop lands on the disk map and
// carries exactly one file; anything else beeps.
enum class DropAction { Ignore, Beep, Load };
struct MapArea {
  int left = 0, top = 0, width = 0, height = 0;  // in the main window's client coordinates
};
DropAction ClassifyDrop(int x, int y, const MapArea& map, int fileCount);

// The main window opens centred at its designed size with its designed
// minimum width; on a screen with less room (the frame included) it opens
// maximized, and its minimum width never exceeds the screen's. Its size
// when restored from maximized is the room less the frame, so that the
// restored window, frame and all, fits the screen's available area.
inline constexpr int kMainWindowWidth = 1313;
inline constexpr int kMainWindowHeight = 646;
inline constexpr int kMainWindowMinimumWidth = 1200;
struct MainWindowPlacement {
  bool maximized = false;
  int minimumWidth = kMainWindowMinimumWidth;
  int width = kMainWindowWidth;  // the size when not maximized
  int height = kMainWindowHeight;
};
MainWindowPlacement PlaceMainWindow(int screenWidth, int screenHeight, int frameWidth,
                                    int frameHeight);

// A window of fixed size is at least as wide as its caption needs, so that
// the window manager does not cut the caption short: the caption's text and
// room for the title bar's icon and buttons, each about a title bar's height
// wide.
int FixedWindowWidth(int designedWidth, int captionTextWidth, int titleBarHeight);

// Raises the process's scheduling priority as far as the system allows; a
// refusal is silently accepted. Never a real-time class for a window thread:
// it would starve the display server. Returns the nice value in force.
int RaisePriority();

}  // namespace kelvara
