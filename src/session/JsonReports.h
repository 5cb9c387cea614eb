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
inline constexpr std::array<std::string_view, 15> kInfoJsonKeys = {
    "file",         "format",      "tracks",     "firstTrack", "lastTrack",
    "firstCylSide", "lastCylSide", "sectorsMin", "sectorsMax", "good",
    "bad",          "noData",      "rawTracks",  "note",       "comment"};
inline constexpr std::array<std::string_view, 10> kTrdosCatJsonKeys = {
    "file",         "fileSystem",  "diskName",       "diskType",        "fileCount",
    "deletedCount", "freeSectors", "firstFreeTrack", "firstFreeSector", "files"};
inline constexpr std::array<std::string_view, 8> kTrdosFileJsonKeys = {
    "name", "type", "start", "length", "sectors", "firstSector", "firstTrack", "deleted"};
inline constexpr std::array<std::string_view, 7> kCpmCatJsonKeys = {
    "file", "fileSystem", "usedKb", "freeKb", "label", "files", "others"};
inline constexpr std::array<std::string_view, 7> kCpmFileJsonKeys = {
    "name", "ext", "user", "extent", "records", "bytes", "attributes"};
inline constexpr std::array<std::string_view, 3> kCpmOtherJsonKeys = {"kind", "user", "name"};
inline constexpr std::array<std::string_view, 5> kVerifyJsonKeys = {"images", "clean", "damaged",
                                                                    "unreadable", "skipped"};
inline constexpr std::array<std::string_view, 11> kVerifyImageJsonKeys = {
    "file",   "format",        "status",          "error",  "note",    "fileSystem",
    "tracks", "missingTracks", "missingCylSides", "damage", "problems"};
inline constexpr std::array<std::string_view, 6> kTrackDamageJsonKeys = {
    "track", "cylSide", "bad", "noData", "missing", "badId"};
inline constexpr std::array<std::string_view, 2> kSkippedJsonKeys = {"file", "reason"};
inline constexpr std::array<std::string_view, 6> kDiffJsonKeys = {"a",       "b",     "same",
                                                                  "sectors", "trdos", "files"};
inline constexpr std::array<std::string_view, 8> kSectorDiffJsonKeys = {
    "kind", "track", "cylSide", "sector", "a", "b", "firstOffset", "differing"};
inline constexpr std::array<std::string_view, 2> kFileDiffJsonKeys = {"kind", "name"};
inline constexpr std::array<std::string_view, 4> kConvertJsonKeys = {"converted", "failed", "files",
                                                                     "skipped"};
inline constexpr std::array<std::string_view, 6> kConvertFileJsonKeys = {
    "input", "output", "status", "reason", "note", "notes"};

// info: the summary of an image as loaded.
std::string InfoJson(const TZX_Disk& disk, const std::string& path);
// cat of a TR-DOS disk: the service sector's fields and the listed entries
// (deleted ones too with showDeleted).
std::string TrdosCatJson(const TTrdosCatalog& cat, const std::string& path, bool showDeleted);
// cat of a CP/M disk.
std::string CpmCatJson(const CpmCatalog& cat, const std::string& path);
// verify: every image's findings, the counts of each verdict, and the files
// of the folders walked that were no images.
std::string VerifyJson(const std::vector<std::pair<std::string, ImageCheck>>& checks,
                       const std::vector<BatchInputError>& skipped = {});
std::string DiffJson(const ImageDifference& diff, const std::string& a, const std::string& b);

// One line of a batch conversion's summary.
struct ConvertRecord {
  std::string input, output;
  ConvertOutcome outcome;
};
std::string ConvertJson(const std::vector<ConvertRecord>& records,
                        const std::vector<BatchInputError>& skipped = {});

}  // namespace kelvara
