#include "binfile/bin_layout.h"

#include <cassert>
#include <cstring>

namespace velkor {

void TextureRecord::storeRawName(const char* name, size_t length) {
  // The command line refuses a longer name.
  assert(length <= kMaxRawNameLength);
  std::memcpy(bytes_ + kRawNameOffset, name, length);
  bytes_[kRawNameOffset + length] = 0;
}

RawNamePattern::RawNamePattern(const std::string& name) : fits_(name.size() <= kRawNameFieldSize) {
  static_assert(sizeof bytes_ == kRawNameFieldSize && sizeof mask_ == kRawNameFieldSize,
                "the pattern is the field's 16 bytes");
  if (!fits_) return;
  // Laid out byte by byte, as the field is: the words then compare alike
  // whatever the machine's byte order. The mask keeps the name's bytes and
  // the NUL after them, if the field has room for it.
  std::memcpy(bytes_, name.data(), name.size());
  std::memset(mask_, 0xff, name.size() < kRawNameFieldSize ? name.size() + 1 : kRawNameFieldSize);
}

}  // namespace velkor
