#include "cli/TapeCommands.h"

#include <algorithm>
#include <cctype>

#include "filesystems/TapeImage.h"
#include "model/FileIO.h"
#include "session/TapeExchange.h"

namespace kelvara::cli {

namespace {

std::string UpperExtension(const std::string& path) {
  const std::string name = FileNameOf(path);
  const size_t dot = name.find_last_of('.');
  std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  for (char& c : ext)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext;
}

// "TR-DOS and +3DOS": the systems that have a tape form.
std::string SystemNames(bool adding) {
  std::string text;
  for (const TapeSystem& s : TapeSystems()) {
    if (adding && !s.add) continue;
    if (!text.empty()) text += ", ";
    text += s.name;
  }
  return text;
}

const TapeSystem* SystemOrFail(Context& ctx, const TZX_Disk& disk, bool adding) {
  const TapeSystem* system = TapeSystemOf(disk);
  if (system && (!adding || system->add)) return system;
  ctx.Fail(std::string(adding ? "tape files go onto " : "tape files come from ") +
           SystemNames(adding) + " disks; this image holds none of them");
  return nullptr;
}

}  // namespace

bool IsTapePath(const std::string& path) {
  const std::string ext = UpperExtension(path);
  return ext == "TAP" || ext == "TZX";
}

int ExtractTap(Context& ctx, const TZX_Disk& disk, const std::vector<std::string>& names,
               const std::string& out, bool force) {
  const TapeSystem* system = SystemOrFail(ctx, disk, false);
  if (!system) return 1;
  std::vector<DiskTapeFile> listed;
  std::string error;
  if (!system->list(disk, listed, error)) {
    ctx.Fail(error);
    return 1;
  }
  std::vector<const DiskTapeFile*> chosen;
  for (const std::string& name : names) {
    const auto it = std::ranges::find_if(
        listed, [&](const DiskTapeFile& f) { return TapeNameMatches(*system, name, f.name); });
    if (it == listed.end()) {
      ctx.Fail("no file " + name + " on the " + system->name + " disk");
      return 1;
    }
    chosen.push_back(&*it);
  }
  if (names.empty()) {
    for (const DiskTapeFile& f : listed)
      chosen.push_back(&f);
  }
  if (!force && FileExists(out)) {
    ctx.Fail(out + ": file exists (--force replaces it)");
    return 1;
  }
  std::vector<TapeFile> files;
  int skipped = 0;
  for (const DiskTapeFile* f : chosen) {
    if (!f->error.empty()) {
      ctx.err << "kelvara-cli: " << f->name << ": left out: " << f->error << "\n";
      ++skipped;
      continue;
    }
    if (!f->note.empty()) ctx.err << "kelvara-cli: " << f->name << ": " << f->note << "\n";
    files.push_back(f->file);
  }
  if (files.empty()) {
    ctx.Fail(out + ": no file to write");
    return 1;
  }
  const std::vector<uint8_t> bytes =
      UpperExtension(out) == "TZX" ? BuildTzxBytes(files) : BuildTapBytes(files);
  if (!WriteFileAtomic(out, bytes, error)) {
    ctx.Fail(out + ": " + error);
    return 1;
  }
  ctx.out << out << ": " << files.size() << " file(s)\n";
  if (skipped > 0) ctx.status = kExitPartly;
  return ctx.status;
}

int AddTapes(Context& ctx, TZX_Disk& disk, const std::vector<std::string>& paths) {
  const TapeSystem* system = SystemOrFail(ctx, disk, true);
  if (!system) return 1;
  for (const std::string& path : paths) {
    std::vector<uint8_t> bytes;
    std::vector<TapeFile> files;
    std::string error;
    const std::string name = FileNameOf(path);
    if (!IsTapePath(path)) {
      error =
          "only tape files (.tap, .tzx) can be added to a " + std::string(system->name) + " disk";
    } else if (ReadWholeFile(path, bytes, error) &&
               ReadTapeFiles(bytes, name.substr(0, name.find_last_of('.')), files, error) &&
               system->add(disk, path, files, error)) {
      continue;
    }
    ctx.Fail(path + ": " + error);
    return 1;
  }
  return 0;
}

}  // namespace kelvara::cli
