// The sector address dialog ("Заголовок") without its window: the fields
// filled from a slot, the ID CRC recomputed on every change, and what an
// accepted dialog stores into the slot.
//
// The side list offers H 0 and 1 and the size list N 0..3 ("128b" ..
// "1024b"). A slot with another H or N gets one more item on that list for
// its own value, selected, so that the value is shown and stored back
// unchanged unless the user picks another.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/ZXDisk.h"

namespace kelvara {

class SectorAddressForm {
 public:
  // Step one of every showing: the fields from the slot, the CRC as the
  // slot holds it, "Принять" off.
  void Fill(const TSectorRec& slot);

  std::vector<std::string> SideItems() const;
  std::vector<std::string> SizeItems() const;

  // The fields as the window holds them: the two number edits' texts and
  // the two lists' positions.
  std::string cylText;
  std::string secText;
  int sidePosition = 0;
  int sizePosition = 0;
  bool noErrors = false;

  // A field changed: with both number edits holding a number, the CRC is
  // computed over A1 A1 A1 FE C H R N and "Принять" is enabled; with one of
  // them empty, "Принять" is off until it holds a number again.
  void Changed();

  bool AcceptEnabled() const { return acceptEnabled_; }
  // "#" and the CRC last computed (or the slot's, before any change).
  std::string CrcLabel() const;

  // An accepted dialog: the ID, the data state and the CRC computed last go
  // into the slot; its data and DataLength stay, also when the size changes.
  void Store(TSectorRec& slot) const;

  // A number edit's value: 0..255 written in decimal digits; nothing for an
  // empty or any other text.
  static std::optional<uint8_t> ByteValue(const std::string& text);

 private:
  uint8_t HeadValue() const;
  uint8_t SizeValue() const;

  uint8_t ownHead_ = 0;
  uint8_t ownSize_ = 0;
  uint16_t crc_ = 0;
  bool acceptEnabled_ = false;
};

}  // namespace kelvara
