// Whether the image holds work that no file has yet, and the question asked
// before such work would be thrown away. The main window reports what
// happened to the image; the rules here decide what counts as a change and
// what the panels show once the image has been replaced or emptied.
#pragma once

#include <functional>
#include <string>

#include "model/Prompt.h"
#include "model/ZXDisk.h"
#include "session/TrackEditing.h"

namespace kelvara {

enum class ImageEvent {
  Loaded,          // an image or project file was read into the image
  LoadFailed,      // a failed load left the image empty
  Saved,           // the image was written to a file
  Created,         // a new empty TR-DOS or CP/M disk
  Cleared,         // "Очистить образ"
  MapEdited,       // a map command, accepted panel bytes, a sector address, the base track
  CatalogChanged,  // the catalog window changed the disk
  CommentEdited,   // the comment memo handed changed lines to the image
  DriveRead,       // a drive run scanned or read the disk into the image
};

// The modified state of the one image of the run. A file just read or just
// written holds everything, and so does an image with nothing of the user's
// in it (empty, or a new blank disk): only edits and drive reads make work
// that a replacement would lose.
//
// The window's caption names the file the image was last loaded from or
// saved to, as desktop programs do; a new disk, an emptied image or a failed
// load names none.
class ImageChanges {
 public:
  // `fileName`: the image's file name after a load or a save (the other
  // events ignore it).
  void Note(ImageEvent event, const std::string& fileName = {});
  bool Modified() const { return modified_; }
  const std::string& FileName() const { return fileName_; }
  // "game.trd[*] — Kelvara", or "Kelvara[*]" without a file; "[*]" is the
  // place of the "*" shown while the image is modified.
  std::string Caption() const;

 private:
  bool modified_ = false;
  std::string fileName_;
};

// The comment memo's text handed back to the image; true when the lines
// differ from the comment the image held.
bool StoreComment(TZX_Disk& disk, const std::string& memoText);

inline constexpr const char* kSaveChangesCaption = "Kelvara";
inline constexpr const char* kSaveChangesQuestion = "Сохранить изменения?";

// Before the image is replaced or emptied (exit, load, new image, clearing,
// a hand-off): an unmodified image goes on at once; otherwise the question.
// "Да" saves through `save` (true when a file was written; a cancelled or
// failed save keeps the image and stops), "Нет" goes on, "Отмена" stops.
// Edits not yet accepted in the hex panel (`storePending` given) are unsaved
// work too: they bring the question, and "Да" stores them before the save.
// True when the caller may go on.
bool MayDiscardChanges(const ImageChanges& changes, Prompt& prompt,
                       const std::function<bool()>& save,
                       const std::function<void()>& storePending = {});

// What the header, the information group and the hex panel show once the
// image has been replaced or emptied: nothing of the image before, and no
// bytes to accept or save. The LOG list is left to the command.
CellView EmptyCellView();

// The folder a file dialog starts in: the remembered one, else the folder of
// the last image, else the home folder (`home` without or with its "/"). A
// folder setting that holds its default, the program's folder, remembers
// nothing the user chose.
std::string DialogStartFolder(const std::string& remembered, const std::string& defaultFolder,
                              const std::string& lastImagePath, const std::string& home);

}  // namespace kelvara
