#include "session/CpmCatalogWindow.h"

#include <langinfo.h>
#include <locale.h>

#include "model/CodePage.h"
#include "model/FileIO.h"
#include "model/HexText.h"

namespace kelvara {

std::array<std::string, kCpmListColumns.size()> CpmListCells(const CpmFileRow& row,
                                                             std::string_view decimalSeparator) {
  std::string flags;
  for (const std::string& a : row.Attributes())
    flags += (flags.empty() ? "" : " ") + a;
  return {row.Name(),
          row.Ext(),
          CpmLengthText(row.bytes, decimalSeparator),
          HexText(row.user, 2),
          HexText(row.extent, 2),
          flags};
}

std::vector<std::pair<std::string, std::string>> DescribeCpmDisk(const CpmCatalog& cat) {
  return {{"Свободно", std::to_string(cat.FreeKb()) + " кБ"},
          {"Занято", std::to_string(cat.UsedKb()) + " кБ"},
          {"Количество файлов", std::to_string(cat.rows.size())},
          {"Метка диска", cat.Label()}};
}

std::string CpmSizeText(uint32_t records, std::string_view decimalSeparator) {
  return CpmLengthText(uint64_t{records} * kCpmRecordSize, decimalSeparator);
}

std::string CpmLengthText(uint64_t bytes, std::string_view decimalSeparator) {
  std::string text = std::to_string(bytes / 1024);
  // Below 1024, so at most three decimal digits.
  const unsigned rest = static_cast<unsigned>(bytes % 1024);
  if (rest == 0) return text;
  std::string digits = std::to_string(rest + 1000).substr(1);
  digits.erase(digits.find_last_not_of('0') + 1);
  return text.append(decimalSeparator).append(digits);
}

std::string SystemDecimalSeparator() {
  locale_t loc = ::newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr));
  if (!loc) return ".";
  std::string sep = ::nl_langinfo_l(RADIXCHAR, loc);
  ::freelocale(loc);
  return sep.empty() ? "." : sep;
}

std::string CpmProposedFileName(const CpmKey& key) {
  std::string raw(key.begin(), key.end());
  for (char& c : raw) {
    if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F || c == '/') c = '_';
  }
  return Cp1251ToUtf8(raw);
}

std::string CpmSaveFileName(const CpmFormat& format, const CpmKey& key) {
  if (!format.plus3) return CpmProposedFileName(key) + ".cpm";
  std::string name = CpmTypedName(key);
  for (char& c : name) {
    if (c == '/' || c == '?') c = '_';
  }
  return name;
}

CpmSaveOutcome SaveCpmFileAs(const TZX_Disk& disk, const CpmFileRow& row, Prompt& prompt,
                             std::string& sclDir) {
  // A Profi file goes as its key with the default extension .cpm; a +3DOS
  // or CPC file under its own name, whatever that is.
  const bool profi = !CpmFormatOf(disk).plus3;
  std::string path =
      profi ? CpmProposedFileName(row.key) : CpmSaveFileName(CpmFormatOf(disk), row.key);
  if (!prompt.PickSaveFile("Сохранить как", profi ? kCpmFileFilter : kAnyFileFilter, sclDir,
                           path) ||
      path.empty()) {
    return CpmSaveOutcome::Cancelled;
  }
  if (profi && FileNameOf(path).find('.') == std::string::npos) path += ".cpm";
  if (FileExists(path) && prompt.AskYesNo("Внимание!", kFileExistsText) != Answer::Yes) {
    return CpmSaveOutcome::Cancelled;
  }
  std::string error;
  if (!WriteCpmFile(disk, row, path, error)) {
    prompt.ShowMessage("Ошибка!", error, MessageIcon::Error);
    return CpmSaveOutcome::Failed;
  }
  sclDir = FolderOf(path);
  return CpmSaveOutcome::Saved;
}

}  // namespace kelvara
