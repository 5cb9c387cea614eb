#include "session/CpmCatalogWindow.h"

#include <langinfo.h>
#include <locale.h>

#include "model/CodePage.h"
#include "model/FileIO.h"
#include "model/HexText.h"

namespace kelvara {

std::array<std::string, kCpmListColumns.size()> CpmListCells(const CpmFileRow& row,
                                                             std::string_view decimalSeparator) {
  return {row.Name(), row.Ext(), CpmSizeText(row.records, decimalSeparator), HexText(row.user, 2),
          HexText(row.extent, 2)};
}

std::vector<std::pair<std::string, std::string>> DescribeCpmDisk(const CpmCatalog& cat) {
  return {{"Свободно", std::to_string(cat.FreeKb()) + " кБ"},
          {"Занято", std::to_string(cat.UsedKb()) + " кБ"},
          {"Количество файлов", std::to_string(cat.rows.size())}};
}

std::string CpmSizeText(uint32_t records, std::string_view decimalSeparator) {
  const uint64_t bytes = uint64_t{records} * kCpmRecordSize;
  std::string text = std::to_string(bytes / 1024);
  // A multiple of 128 below 1024, so at most three decimal digits.
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

CpmSaveOutcome SaveCpmFileAs(const TZX_Disk& disk, const CpmFileRow& row, Prompt& prompt,
                             std::string& sclDir) {
  std::string path = CpmProposedFileName(row.key);
  if (!prompt.PickSaveFile("Сохранить как", kCpmFileFilter, sclDir, path) || path.empty()) {
    return CpmSaveOutcome::Cancelled;
  }
  // The dialog's default extension: added when the name has none.
  if (FileNameOf(path).find('.') == std::string::npos) path += ".cpm";
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
