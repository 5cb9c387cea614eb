// The JSON shapes of kelvara-cli's --json output, one per command. Every key
// listed here is always present (empty arrays, "" and -1 stand for nothing),
// so a script can rely on the shape; the README documents each.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "filesystems/CpmCatalog.h"
#include "filesystems/Trdos.h"
#include "session/Batch.h"
#include "session/ImageCheck.h"
#include "session/ImageDiff.h"
#include "session/JsonWriter.h"

namespace kelvara {

// The keys of each shape in the order written, for the documentation and
// the tests that hold the two together.
inline constexpr std::array<std::string_view, 13> kInfoJsonKeys = {
    "file", "format", "tracks", "firstTrack", "lastTrack", "sectorsMin", "sectorsMax",
    "good", "bad",    "noData", "rawTracks",  "note",      "comment"};
inline constexpr std::array<std::string_view, 10> kTrdosCatJsonKeys = {
    "file",         "fileSystem",  "diskName",       "diskType",        "fileCount",
    "deletedCount", "freeSectors", "firstFreeTrack", "firstFreeSector", "files"};
inline constexpr std::array<std::string_view, 8> kTrdosFileJsonKeys = {
    "name", "type", "start", "length", "sectors", "firstSector", "firstTrack", "deleted"};
inline constexpr std::array<std::string_view, 5> kCpmCatJsonKeys = {"file", "fileSystem", "usedKb",
                                                                    "freeKb", "files"};
inline constexpr std::array<std::string_view, 5> kCpmFileJsonKeys = {"name", "ext", "user",
                                                                     "extent", "records"};
inline constexpr std::array<std::string_view, 4> kVerifyJsonKeys = {"images", "clean", "damaged",
                                                                    "unreadable"};
inline constexpr std::array<std::string_view, 10> kVerifyImageJsonKeys = {
    "file",       "format", "status",        "error",  "note",
    "fileSystem", "tracks", "missingTracks", "damage", "problems"};
inline constexpr std::array<std::string_view, 4> kTrackDamageJsonKeys = {"track", "bad", "noData",
                                                                         "missing"};
inline constexpr std::array<std::string_view, 6> kDiffJsonKeys = {"a",       "b",     "same",
                                                                  "sectors", "trdos", "files"};
inline constexpr std::array<std::string_view, 7> kSectorDiffJsonKeys = {
    "kind", "track", "sector", "a", "b", "firstOffset", "differing"};
inline constexpr std::array<std::string_view, 2> kFileDiffJsonKeys = {"kind", "name"};
inline constexpr std::array<std::string_view, 3> kConvertJsonKeys = {"converted", "failed",
                                                                     "files"};
inline constexpr std::array<std::string_view, 5> kConvertFileJsonKeys = {
    "input", "output", "status", "reason", "notes"};

// info: the summary of an image as loaded.
std::string InfoJson(const TZX_Disk& disk, const std::string& path);
// cat of a TR-DOS disk: the service sector's fields and the listed entries
// (deleted ones too with showDeleted).
std::string TrdosCatJson(const TTrdosCatalog& cat, const std::string& path, bool showDeleted);
// cat of a CP/M disk.
std::string CpmCatJson(const CpmCatalog& cat, const std::string& path);
// verify: every image's findings, then the counts of each verdict.
std::string VerifyJson(const std::vector<std::pair<std::string, ImageCheck>>& checks);
std::string DiffJson(const ImageDifference& diff, const std::string& a, const std::string& b);

// One line of a batch conversion's summary.
struct ConvertRecord {
  std::string input, output;
  ConvertOutcome outcome;
};
std::string ConvertJson(const std::vector<ConvertRecord>& records);

}  // namespace kelvara
