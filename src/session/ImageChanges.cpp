#include "session/ImageChanges.h"

#include "model/FileIO.h"

namespace kelvara {

void ImageChanges::Note(ImageEvent event, const std::string& fileName) {
  switch (event) {
    case ImageEvent::Loaded:
    case ImageEvent::Saved:
      modified_ = false;
      fileName_ = fileName;
      break;
    case ImageEvent::LoadFailed:
    case ImageEvent::Created:
    case ImageEvent::Cleared:
      modified_ = false;
      fileName_.clear();
      break;
    case ImageEvent::MapEdited:
    case ImageEvent::CatalogChanged:
    case ImageEvent::CommentEdited:
    case ImageEvent::DriveRead:
      modified_ = true;
      break;
  }
}

std::string ImageChanges::Caption() const {
  if (fileName_.empty()) return "Kelvara[*]";
  return fileName_ + "[*] — Kelvara";
}

bool StoreComment(TZX_Disk& disk, const std::string& memoText) {
  std::vector<std::string> lines = MemoLines(memoText);
  if (lines == disk.Comment) return false;
  disk.Comment = std::move(lines);
  return true;
}

bool MayDiscardChanges(const ImageChanges& changes, Prompt& prompt,
                       const std::function<bool()>& save,
                       const std::function<void()>& storePending) {
  if (!changes.Modified() && !storePending) return true;
  switch (prompt.AskYesNoCancel(kSaveChangesCaption, kSaveChangesQuestion)) {
    case Answer::Yes:
      if (storePending) storePending();
      return save();
    case Answer::No:
      return true;
    case Answer::Cancel:
      break;
  }
  return false;
}

CellView EmptyCellView() {
  CellView v;
  v.owner = Visibility::Hidden;
  v.info = Visibility::Shown;
  v.fieldCount = static_cast<int>(v.fields.size());
  v.hex = HexChange::Replace;
  return v;
}

std::string DialogStartFolder(const std::string& remembered, const std::string& defaultFolder,
                              const std::string& lastImagePath, const std::string& home) {
  if (!remembered.empty() && remembered != defaultFolder) return remembered;
  const std::string folder = FolderOf(lastImagePath);
  if (!folder.empty()) return folder;
  if (home.empty() || home.back() == '/') return home;
  return home + "/";
}

}  // namespace kelvara
