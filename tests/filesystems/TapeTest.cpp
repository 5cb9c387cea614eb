// TAP and TZX files, and the tape form of TR-DOS and +3DOS files. Tape
// bytes are built here from the format's layout (length, flag, payload,
// XOR checksum), not by the writer under test.
#include <gtest/gtest.h>

#include <numeric>

#include "filesystems/DiskTape.h"
#include "filesystems/Plus3Dos.h"
#include "filesystems/TapeImage.h"

namespace kelvara {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Block(uint8_t flag, const Bytes& payload) {
  Bytes b = {static_cast<uint8_t>(payload.size() + 2),
             static_cast<uint8_t>((payload.size() + 2) >> 8), flag};
  b.insert(b.end(), payload.begin(), payload.end());
  uint8_t sum = flag;
  for (uint8_t x : payload)
    sum ^= x;
  b.push_back(sum);
  return b;
}

Bytes Header(uint8_t type, const std::string& name, uint16_t length, uint16_t p1, uint16_t p2) {
  Bytes h = {type};
  std::string padded = name;
  padded.resize(10, ' ');
  h.insert(h.end(), padded.begin(), padded.end());
  for (uint16_t v : {length, p1, p2}) {
    h.push_back(static_cast<uint8_t>(v));
    h.push_back(static_cast<uint8_t>(v >> 8));
  }
  return Block(0x00, h);
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::string Name(const TapeFile& f) {
  return TapeNameText(f.header);
}

// A program with its line, a headerless block, code: in tape order, the
// headerless one named after the tape; the writer gives back the same
// bytes, and as TZX the same files.
TEST(TapeTest, TapFilesPairHeadersAndKeepHeaderlessBlocks) {
  const Bytes program = {0, 10, 5, 0, 0xF9, 0xC0, '0', 0x0E, 0x0D};
  const Bytes tap = Cat({Header(0, "run", 9, 10, 9), Block(0xFF, program), Block(0xFF, {1, 2, 3}),
                         Header(3, "scr", 2, 16384, 32768), Block(0xFF, {7, 8})});
  std::vector<TapeFile> files;
  std::string error;
  ASSERT_TRUE(ReadTapeFiles(tap, "game", files, error)) << error;
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(Name(files[0]), "run");
  EXPECT_EQ(files[0].header.param1, 10);
  EXPECT_EQ(files[0].data, program);
  EXPECT_EQ(Name(files[1]), "game");
  EXPECT_EQ(files[1].header.type, TapeType::Bytes);
  EXPECT_EQ(files[1].header.param1, kHeaderlessStart);
  EXPECT_EQ(files[1].data, (Bytes{1, 2, 3}));
  EXPECT_EQ(files[2].header.param1, 16384);

  std::vector<TapeFile> paired = {files[0], files[2]};
  EXPECT_EQ(BuildTapBytes(paired), Cat({Header(0, "run", 9, 10, 9), Block(0xFF, program),
                                        Header(3, "scr", 2, 16384, 32768), Block(0xFF, {7, 8})}));
  std::vector<TapeFile> fromTzx;
  ASSERT_TRUE(ReadTapeFiles(BuildTzxBytes(files), "x", fromTzx, error)) << error;
  ASSERT_EQ(fromTzx.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(fromTzx[i].data, files[i].data);
    EXPECT_EQ(fromTzx[i].header.name, files[i].header.name);
  }

  // Two headerless blocks are numbered, within 8 characters.
  ASSERT_TRUE(ReadTapeFiles(Cat({Block(0xFF, {1}), Block(0x55, {2})}), "longname", files, error));
  EXPECT_EQ(Name(files[0]), "longnam1");
  EXPECT_EQ(Name(files[1]), "longnam2");
}

TEST(TapeTest, DamagedTapesAndUntakeableTzxBlocksAreRefusedByName) {
  const Bytes tzxHead = {'Z', 'X', 'T', 'a', 'p', 'e', '!', 0x1A, 1, 20};
  Bytes badSum = Block(0xFF, {1, 2, 3});
  badSum.back() ^= 1;
  Bytes cut = Block(0xFF, {1, 2, 3});
  cut.pop_back();
  // Info blocks carry no signal and are passed over.
  const Bytes info = {0x30, 3, 'a', 'b', 'c', 0x32, 2, 0, 9, 9, 0x20, 0xE8, 0x03};
  Bytes tzxData = {0x10, 0xE8, 0x03};
  const Bytes one = Block(0xFF, {4, 5});
  tzxData.insert(tzxData.end(), one.begin(), one.end());
  struct Case {
    const char* what;
    Bytes file;
    const char* error;  // nullptr: read
  } cases[] = {
      {"checksum", badSum, "block 1 at offset 0: checksum error"},
      {"cut short", cut, "block 1 at offset 0 runs past the end of the file"},
      {"no room for a checksum", {1, 0, 0xFF}, "too short for a flag and a checksum"},
      {"header without its data", Cat({Header(3, "x", 5, 0, 0), Block(0xFF, {1})}),
       "block 1: the header of \"x\" is not followed by its 5 data bytes"},
      {"turbo block", Cat({tzxHead, tzxData, {0x11}}),
       "TZX block 2 at offset 19: turbo speed data (ID 0x11); only standard speed data"},
      {"direct recording", Cat({tzxHead, {0x15}}), "direct recording (ID 0x15)"},
      {"info blocks", Cat({tzxHead, info, tzxData}), nullptr},
      {"TZX cut short", Cat({tzxHead, {0x10, 0xE8, 0x03, 9, 0}}), "runs past the end"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<TapeFile> files;
    std::string error;
    const bool ok = ReadTapeFiles(c.file, "t", files, error);
    EXPECT_EQ(ok, c.error == nullptr) << error;
    if (c.error) {
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
  }
}

TTrdosFileEntry Entry(const char* name, char type, uint16_t start, uint16_t length, int sectors) {
  TTrdosFileEntry e;
  std::string padded = name;
  padded.resize(8, ' ');
  std::copy_n(padded.begin(), 8, e.Name.begin());
  e.FileType = static_cast<uint8_t>(type);
  e.Start = start;
  e.Length = length;
  e.SectorCount = static_cast<uint8_t>(sectors);
  return e;
}

// Each TR-DOS type and its tape fields, and the way back to the same
// entry and bytes.
TEST(TapeTest, TrdosFilesAndTheirTapeForm) {
  Bytes basic(256, 0x11);
  basic[100] = 0x80, basic[101] = 0xAA, basic[102] = 0x0A, basic[103] = 0;  // LINE 10
  Bytes noTail(256, 0x22);
  Bytes tailAfterProgram(256, 0x33);  // tail after 11-12, not after 9-10
  tailAfterProgram[90] = 0x80, tailAfterProgram[91] = 0xAA, tailAfterProgram[92] = 1;
  tailAfterProgram[93] = 0;
  struct Case {
    const char* what;
    TTrdosFileEntry entry;
    Bytes sectors;
    TapeType type;
    uint16_t length, param1, param2;
    const char* note;  // part of the note, "" for none
    bool back;         // comes back as the same entry
  } cases[] = {
      {"program, LINE 10", Entry("run", 'B', 100, 80, 1), basic, TapeType::Program, 100, 10, 80, "",
       true},
      {"program, no line", Entry("p", 'B', 100, 80, 1), noTail, TapeType::Program, 100, 0x8000, 80,
       "", true},
      {"program, tail after the program", Entry("q", 'B', 95, 90, 1), tailAfterProgram,
       TapeType::Program, 95, 1, 90, "", false},
      {"code", Entry("scr", 'C', 16384, 200, 1), noTail, TapeType::Bytes, 200, 16384, 0x8000, "",
       true},
      {"number array b()", Entry("n", 'D', 0xE2, 53, 1), noTail, TapeType::NumberArray, 53, 0x8200,
       0x8000, "", true},
      {"character array z$()", Entry("c", 'D', 0xBA, 20, 1), noTail, TapeType::CharacterArray, 20,
       0xDA00, 0x8000, "", true},
      {"array without a letter", Entry("d", 'D', 0xE0, 20, 1), noTail, TapeType::NumberArray, 20,
       0x8100, 0x8000, "taken as a()", false},
      {"sequential file", Entry("s", '#', 5, 20, 1), noTail, TapeType::Bytes, 20, 5, 0x8000,
       "type # has no tape form: written as CODE 5", false},
      {"length past the sectors", Entry("l", 'C', 0, 300, 1), noTail, TapeType::Bytes, 256, 0,
       0x8000, "the entry gives 300 bytes, its sectors hold 256", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TapeFile tape;
    std::string note, error;
    ASSERT_TRUE(TrdosFileToTape(c.entry, c.sectors, tape, note, error)) << error;
    EXPECT_EQ(tape.header.type, c.type);
    EXPECT_EQ(tape.header.length, c.length);
    EXPECT_EQ(tape.data.size(), c.length);
    EXPECT_EQ(tape.header.param1, c.param1);
    EXPECT_EQ(tape.header.param2, c.param2);
    EXPECT_NE(note.find(c.note), std::string::npos) << note;
    EXPECT_EQ(note.empty(), !*c.note) << note;
    TTrdosFileEntry entry;
    Bytes stored;
    ASSERT_TRUE(TrdosFileFromTape(tape, entry, stored, error)) << error;
    if (!c.back) continue;
    EXPECT_EQ(entry.Name, c.entry.Name);
    EXPECT_EQ(entry.FileType, c.entry.FileType);
    EXPECT_EQ(entry.Start, c.entry.Start);
    EXPECT_EQ(entry.Length, c.entry.Length);
    EXPECT_TRUE(std::equal(stored.begin(), stored.end(), c.sectors.begin())) << "the tail too";
  }

  TapeFile big;
  big.data.assign(65281, 0);
  TTrdosFileEntry entry;
  Bytes stored;
  std::string error;
  EXPECT_FALSE(TrdosFileFromTape(big, entry, stored, error));
  EXPECT_EQ(error, "65281 bytes, more than a TR-DOS file holds (65280)");
  big.header.type = TapeType::Program;  // 65277 with its tail is one byte too many
  big.header.param1 = 1;
  big.data.resize(65277);
  EXPECT_FALSE(TrdosFileFromTape(big, entry, stored, error));
}

TEST(TapeTest, Plus3FilesCarryTheTapeFieldsInTheirHeader) {
  TapeFile arr;
  arr.header.type = TapeType::CharacterArray;
  arr.header.param1 = 0xD800;  // x$()
  arr.header.param2 = 0x8000;
  arr.data = {1, 3, 0, 'a', 'b', 'c'};
  arr.header.length = 6;
  const Bytes file = Plus3FileFromTape(arr);
  ASSERT_EQ(file.size(), 128u + 6);
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 11),
            (Bytes{'P', 'L', 'U', 'S', '3', 'D', 'O', 'S', 0x1A, 1, 0}));
  EXPECT_EQ(file[11], 134);  // the length with the header
  EXPECT_EQ(file[19], 0xD8) << "the variable's name byte";
  EXPECT_EQ(file[127], static_cast<uint8_t>(std::accumulate(file.begin(), file.begin() + 127, 0u)));
  TapeFile back;
  std::string note, error;
  // The records' padding after the data is not part of it.
  Bytes padded = file;
  padded.resize(256, 0x1A);
  ASSERT_TRUE(Plus3FileToTape(padded, "X.ARR", back, note, error)) << error;
  EXPECT_EQ(TapeNameText(back.header), "X.ARR");
  EXPECT_EQ(back.header.type, arr.header.type);
  EXPECT_EQ(back.header.param1, arr.header.param1);
  EXPECT_EQ(back.data, arr.data);
  EXPECT_TRUE(note.empty());

  ASSERT_TRUE(Plus3FileToTape(Bytes(300, 9), "PLAIN.BIN", back, note, error));
  EXPECT_EQ(back.header.param1, 32768);
  EXPECT_EQ(back.data.size(), 300u);
  EXPECT_EQ(note, "no PLUS3DOS header: written as CODE 32768");
  Bytes odd = file;
  odd[15] = 4;
  odd[127] = static_cast<uint8_t>(std::accumulate(odd.begin(), odd.begin() + 127, 0u));
  EXPECT_FALSE(Plus3FileToTape(odd, "ODD", back, note, error));
  EXPECT_EQ(error, "PLUS3DOS type 4 has no tape form");
}

}  // namespace
}  // namespace kelvara
