#include "session/SectorAddressForm.h"

#include "session/TrackEditing.h"

namespace kelvara {

namespace {

constexpr int kSides = 2;
constexpr int kSizes = 4;

}  // namespace

void SectorAddressForm::Fill(const TSectorRec& slot) {
  ownHead_ = slot.Head;
  ownSize_ = slot.SizeCode;
  cylText = std::to_string(slot.Cyl);
  secText = std::to_string(slot.Sec);
  // A value the list does not hold has its own item after the standard ones.
  sidePosition = slot.Head < kSides ? slot.Head : kSides;
  sizePosition = slot.SizeCode < kSizes ? slot.SizeCode : kSizes;
  noErrors = slot.DataOk != 0;
  crc_ = slot.HeaderCrc;
  acceptEnabled_ = false;
}

std::vector<std::string> SectorAddressForm::SideItems() const {
  std::vector<std::string> items = {"0", "1"};
  if (ownHead_ >= kSides) items.push_back(std::to_string(ownHead_));
  return items;
}

std::vector<std::string> SectorAddressForm::SizeItems() const {
  std::vector<std::string> items;
  for (int n = 0; n < kSizes; ++n)
    items.push_back(SizeText(n));
  if (ownSize_ >= kSizes) items.push_back("N=" + std::to_string(ownSize_));
  return items;
}

uint8_t SectorAddressForm::HeadValue() const {
  return sidePosition < kSides ? static_cast<uint8_t>(sidePosition) : ownHead_;
}

uint8_t SectorAddressForm::SizeValue() const {
  return sizePosition < kSizes ? static_cast<uint8_t>(sizePosition) : ownSize_;
}

void SectorAddressForm::Changed() {
  const std::optional<uint8_t> cyl = ByteValue(cylText);
  const std::optional<uint8_t> sec = ByteValue(secText);
  // An accept with an empty field would have no value to store.
  acceptEnabled_ = cyl && sec;
  if (acceptEnabled_) crc_ = IdFieldCrc(*cyl, HeadValue(), *sec, SizeValue());
}

std::string SectorAddressForm::CrcLabel() const {
  return CrcText(crc_);
}

void SectorAddressForm::Store(TSectorRec& slot) const {
  const std::optional<uint8_t> cyl = ByteValue(cylText);
  const std::optional<uint8_t> sec = ByteValue(secText);
  if (!cyl || !sec) return;
  slot.Cyl = *cyl;
  slot.Head = HeadValue();
  slot.Sec = *sec;
  slot.SizeCode = SizeValue();
  slot.DataOk = noErrors ? 0xFF : 0;
  slot.HeaderCrc = crc_;
}

std::optional<uint8_t> SectorAddressForm::ByteValue(const std::string& text) {
  if (text.empty() || text.size() > 3) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > 255) return std::nullopt;
  return static_cast<uint8_t>(value);
}

}  // namespace kelvara
