#include "filesystems/DiskTape.h"

#include <algorithm>

#include "filesystems/Plus3Dos.h"
#include "filesystems/TapeImage.h"

namespace kelvara {

namespace {

constexpr uint8_t kAutostartMark0 = 0x80, kAutostartMark1 = 0xAA;
constexpr uint16_t kNoLine = 0x8000;
constexpr uint8_t kArrayMarker = 0xA0;   // 1x1nnnnn
constexpr uint8_t kNumericArray = 0x40;  // the x bit
constexpr uint8_t kTapeNumericName = 0x80, kTapeCharacterName = 0xC0;
constexpr uint8_t kLetterBits = 0x1F;
constexpr size_t kMaxTrdosSectors = 255;

// The line of an autostart tail 80 AA lo hi at `at`, or kNoLine.
uint16_t TailLine(std::span<const uint8_t> bytes, size_t at) {
  if (at + 4 > bytes.size() || bytes[at] != kAutostartMark0 || bytes[at + 1] != kAutostartMark1)
    return kNoLine;
  return static_cast<uint16_t>(bytes[at + 2] | bytes[at + 3] << 8);
}

std::string TypeLetter(uint8_t type) {
  return type >= 0x20 && type < 0x7F ? std::string(1, static_cast<char>(type))
                                     : "byte " + std::to_string(type);
}

bool TooLong(size_t length, std::string& error) {
  if (length <= kTapeMaxPayload) return false;
  error = std::to_string(length) + " bytes, more than a tape block holds (" +
          std::to_string(kTapeMaxPayload) + ")";
  return true;
}

}  // namespace

bool TrdosFileToTape(const TTrdosFileEntry& e, std::span<const uint8_t> sectors, TapeFile& out,
                     std::string& note, std::string& error) {
  note.clear();
  TapeHeader h;
  h.name.fill(' ');
  std::ranges::copy(e.Name, h.name.begin());
  size_t length = e.Length;
  switch (e.FileType) {
    case 'B': {
      h.type = TapeType::Program;
      length = e.Start;
      h.param2 = e.Length;
      // The tail follows the whole program; a few disks put it after the
      // program without its variables instead.
      h.param1 = TailLine(sectors, e.Start);
      if (h.param1 == kNoLine) h.param1 = TailLine(sectors, e.Length);
      break;
    }
    case 'C':
      h.param1 = e.Start;
      break;
    case 'D': {
      const uint8_t marker = static_cast<uint8_t>(e.Start);
      const bool numeric = (marker & kNumericArray) != 0;
      h.type = numeric ? TapeType::NumberArray : TapeType::CharacterArray;
      uint8_t letter = marker & kLetterBits;
      if (letter == 0 || letter > 26) {
        letter = 1;
        note =
            "the entry does not name the array: taken as a" + std::string(numeric ? "()" : "$()");
      }
      h.param1 = static_cast<uint16_t>((numeric ? kTapeNumericName : kTapeCharacterName) | letter)
                 << 8;
      break;
    }
    default:
      h.param1 = e.Start;
      note = "type " + TypeLetter(e.FileType) + " has no tape form: written as CODE " +
             std::to_string(e.Start);
      break;
  }
  if (TooLong(length, error)) return false;
  if (length > sectors.size()) {
    if (!note.empty()) note += "; ";
    note += "the entry gives " + std::to_string(length) + " bytes, its sectors hold " +
            std::to_string(sectors.size());
    length = sectors.size();
  }
  h.length = static_cast<uint16_t>(length);
  out.header = h;
  out.data.assign(sectors.begin(), sectors.begin() + static_cast<std::ptrdiff_t>(length));
  return true;
}

bool TrdosFileFromTape(const TapeFile& file, TTrdosFileEntry& entry, std::vector<uint8_t>& data,
                       std::string& error) {
  const TapeHeader& h = file.header;
  TTrdosFileEntry e;
  std::copy_n(h.name.begin(), e.Name.size(), e.Name.begin());
  data = file.data;
  switch (h.type) {
    case TapeType::Program:
      e.FileType = 'B';
      e.Start = static_cast<uint16_t>(file.data.size());
      e.Length = h.param2;
      // No tail without an autostart line, as disks saved that way have it.
      if (h.param1 < kNoLine) {
        data.insert(data.end(), {kAutostartMark0, kAutostartMark1, static_cast<uint8_t>(h.param1),
                                 static_cast<uint8_t>(h.param1 >> 8)});
      }
      break;
    case TapeType::NumberArray:
    case TapeType::CharacterArray: {
      e.FileType = 'D';
      const uint8_t letter = static_cast<uint8_t>(h.param1 >> 8) & kLetterBits;
      e.Start = static_cast<uint8_t>(
          kArrayMarker | (h.type == TapeType::NumberArray ? kNumericArray : 0) | letter);
      e.Length = static_cast<uint16_t>(file.data.size());
      break;
    }
    case TapeType::Bytes:
      e.FileType = 'C';
      e.Start = h.param1;
      e.Length = static_cast<uint16_t>(file.data.size());
      break;
  }
  const size_t sectors = (data.size() + kTrdosSectorSize - 1) / kTrdosSectorSize;
  if (sectors > kMaxTrdosSectors) {
    error = std::to_string(data.size()) + " bytes, more than a TR-DOS file holds (" +
            std::to_string(kMaxTrdosSectors * kTrdosSectorSize) + ")";
    return false;
  }
  e.SectorCount = static_cast<uint8_t>(sectors);
  entry = e;
  return true;
}

std::vector<uint8_t> Plus3FileFromTape(const TapeFile& file) {
  Plus3Header h;
  h.fileLength = static_cast<uint32_t>(kPlus3HeaderSize + file.data.size());
  h.type = static_cast<uint8_t>(file.header.type);
  h.dataLength = static_cast<uint16_t>(file.data.size());
  h.param1 = file.header.param1;
  h.param2 = file.header.param2;
  const auto header = BuildPlus3Header(h);
  std::vector<uint8_t> bytes(kPlus3HeaderSize + file.data.size());
  std::ranges::copy(header, bytes.begin());
  std::ranges::copy(file.data, bytes.begin() + kPlus3HeaderSize);
  return bytes;
}

bool Plus3FileToTape(std::span<const uint8_t> file, const std::string& name, TapeFile& out,
                     std::string& note, std::string& error) {
  note.clear();
  TapeHeader h;
  h.name.fill(' ');
  std::copy_n(name.begin(), std::min(name.size(), h.name.size()), h.name.begin());
  Plus3Header p3;
  std::span<const uint8_t> data = file;
  if (ReadPlus3Header(file, p3)) {
    if (p3.type > static_cast<uint8_t>(TapeType::Bytes)) {
      error = "PLUS3DOS type " + std::to_string(p3.type) + " has no tape form";
      return false;
    }
    h.type = static_cast<TapeType>(p3.type);
    h.param1 = p3.param1;
    h.param2 = p3.param2;
    data = file.subspan(kPlus3HeaderSize);
    if (p3.dataLength > data.size()) {
      note = "the header gives " + std::to_string(p3.dataLength) + " bytes, the file holds " +
             std::to_string(data.size());
    } else {
      data = data.first(p3.dataLength);
    }
  } else {
    h.param1 = kHeaderlessStart;
    note = "no PLUS3DOS header: written as CODE " + std::to_string(kHeaderlessStart);
  }
  if (TooLong(data.size(), error)) return false;
  h.length = static_cast<uint16_t>(data.size());
  out.header = h;
  out.data.assign(data.begin(), data.end());
  return true;
}

}  // namespace kelvara
