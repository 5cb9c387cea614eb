#include "session/JsonReports.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "support/CpmDiskBuilder.h"
#include "support/TrdosBuilder.h"

namespace kelvara {
namespace {

TEST(JsonWriter, NestingCommasAndEscapes) {
  JsonWriter w;
  w.BeginObject().Field("a", "q\"\\\n\x01й").Key("b").BeginArray().Number(-1).Bool(true).Null();
  w.BeginObject().EndObject().EndArray().Field("c", 0).EndObject();
  EXPECT_EQ(w.Text(), R"({"a":"q\"\\\n\u0001й","b":[-1,true,null,{}],"c":0})");
}

// The keys of the objects at a nesting depth (1: the top object; 3: objects
// in an array of the top object), each once, in the order first met.
std::vector<std::string> KeysAt(const std::string& json, int depth) {
  std::vector<std::string> keys;
  int level = 0;
  for (size_t i = 0; i < json.size(); ++i) {
    const char c = json[i];
    if (c == '{' || c == '[') ++level;
    if (c == '}' || c == ']') --level;
    if (c != '"') continue;
    std::string s;
    for (++i; json[i] != '"'; ++i) {
      if (json[i] == '\\') ++i;
      s += json[i];
    }
    if (level == depth && json[i + 1] == ':' && std::ranges::find(keys, s) == keys.end())
      keys.push_back(s);
  }
  return keys;
}

template <size_t N>
std::vector<std::string> Keys(const std::array<std::string_view, N>& keys) {
  return {keys.begin(), keys.end()};
}

// "`a`, `b`, `c`": how the README lists a shape's keys.
template <size_t N>
std::string Listed(const std::array<std::string_view, N>& keys) {
  std::string s;
  for (const std::string_view k : keys)
    s += (s.empty() ? "`" : ", `") + std::string(k) + "`";
  return s;
}

// Every shape writes its documented keys, all of them, in their order; the
// README lists each.
TEST(JsonReports, ShapesHaveTheirDocumentedKeys) {
  auto disk = std::make_unique<TZX_Disk>();
  test::BuildTrdosDisk(*disk, {test::PatternFile("A", 'C', 2)});
  TTrdosCatalog cat;
  ASSERT_TRUE(ReadTrdosCatalog(*disk, cat));
  ImageCheck check;
  CheckImage(*disk, check);
  check.damage.push_back({3, {1}, {}, {}, {}});
  ImageDifference diff;
  diff.sectors.push_back({});
  diff.files.push_back({});
  auto cpm = std::make_unique<TZX_Disk>();
  CreateCpmDisk(*cpm);
  test::PutCpmEntry(*cpm, 0, {0, "A       COM", 0, 16, {2}});
  test::PutCpmEntry(*cpm, 1, {0x20, "LABEL      ", 0, 0, {}});
  const std::vector<BatchInputError> skipped = {{"a.txt", kNotAnImageText}};

  const std::string info = InfoJson(*disk, "a.trd"), trdos = TrdosCatJson(cat, "a.trd", false),
                    cpmCat = CpmCatJson(ReadCpmCatalog(*cpm, {}), "b.pro"),
                    verify = VerifyJson({{"a.trd", check}}, skipped),
                    diffs = DiffJson(diff, "a", "b"),
                    convert =
                        ConvertJson({{"a.trd", "o/a.udi", {true, "", "read", {"note"}}}}, skipped);
  // Objects of two kinds in one array, or in two arrays at one depth: their
  // keys one after the other.
  auto both = [](auto first, auto second) {
    std::vector<std::string> keys = Keys(first);
    for (const std::string_view k : second) {
      if (std::ranges::find(keys, k) == keys.end()) keys.emplace_back(k);
    }
    return keys;
  };
  struct Shape {
    const std::string& json;
    int depth;
    std::vector<std::string> keys;
    std::string listed;
  };
  const Shape shapes[] = {
      {info, 1, Keys(kInfoJsonKeys), Listed(kInfoJsonKeys)},
      {trdos, 1, Keys(kTrdosCatJsonKeys), Listed(kTrdosCatJsonKeys)},
      {trdos, 3, Keys(kTrdosFileJsonKeys), Listed(kTrdosFileJsonKeys)},
      {cpmCat, 1, Keys(kCpmCatJsonKeys), Listed(kCpmCatJsonKeys)},
      {cpmCat, 3, both(kCpmFileJsonKeys, kCpmOtherJsonKeys), Listed(kCpmFileJsonKeys)},
      {cpmCat, 3, {}, Listed(kCpmOtherJsonKeys)},
      {verify, 1, Keys(kVerifyJsonKeys), Listed(kVerifyJsonKeys)},
      {verify, 3, both(kVerifyImageJsonKeys, kSkippedJsonKeys), Listed(kVerifyImageJsonKeys)},
      {verify, 3, {}, Listed(kSkippedJsonKeys)},
      {verify, 5, Keys(kTrackDamageJsonKeys), Listed(kTrackDamageJsonKeys)},
      {diffs, 1, Keys(kDiffJsonKeys), Listed(kDiffJsonKeys)},
      {diffs, 3, {}, {}},  // sectors and files in one list: checked below
      {convert, 1, Keys(kConvertJsonKeys), Listed(kConvertJsonKeys)},
      {convert, 3, both(kConvertFileJsonKeys, kSkippedJsonKeys), Listed(kConvertFileJsonKeys)},
  };
  std::ifstream readmeFile(std::string(KELVARA_SOURCE_DIR) + "/README.md");
  std::stringstream readme;
  readme << readmeFile.rdbuf();
  for (const Shape& s : shapes) {
    if (!s.listed.empty()) {
      EXPECT_NE(readme.str().find(s.listed), std::string::npos) << "README lacks " << s.listed;
    }
    if (!s.keys.empty()) {
      EXPECT_EQ(KeysAt(s.json, s.depth), s.keys) << s.json;
    }
  }
  std::vector<std::string> inDiff = Keys(kSectorDiffJsonKeys);
  inDiff.insert(inDiff.end(), kFileDiffJsonKeys.begin() + 1, kFileDiffJsonKeys.end());
  EXPECT_EQ(KeysAt(diffs, 3), inDiff);
  for (const std::string& listed : {Listed(kSectorDiffJsonKeys), Listed(kFileDiffJsonKeys)})
    EXPECT_NE(readme.str().find(listed), std::string::npos) << "README lacks " << listed;
}

}  // namespace
}  // namespace kelvara
