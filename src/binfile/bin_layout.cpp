#include "binfile/bin_layout.h"

#include <cstring>

namespace velkor {

void TextureRecord::storeRawName(const char* name, size_t length) {
  // A longer name cannot reach here: the command line refuses it. Clamp all
  // the same, so that the field is never overrun.
  if (length > kMaxRawNameLength) length = kMaxRawNameLength;
  std::memcpy(bytes_ + kRawNameOffset, name, length);
  bytes_[kRawNameOffset + length] = 0;
}

RawNamePattern::RawNamePattern(const std::string& name) : fits_(name.size() <= kRawNameFieldSize) {
  uint8_t bytes[kRawNameFieldSize] = {};
  uint8_t mask[kRawNameFieldSize] = {};
  if (fits_) {
    std::memcpy(bytes, name.data(), name.size());
    // The name's bytes and the NUL after them, if the field has room for it.
    std::memset(mask, 0xff, name.size() < kRawNameFieldSize ? name.size() + 1 : kRawNameFieldSize);
  }
  std::memcpy(bytes_, bytes, sizeof bytes);
  std::memcpy(mask_, mask, sizeof mask);
}

}  // namespace velkor
