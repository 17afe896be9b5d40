#include "binfile/bin_layout.h"

#include <cstring>

namespace velkor {

BlockKind classifyBlockType(uint32_t type) {
  switch (type) {
    case 0:
      return BlockKind::kEnd;
    case 3:
      return BlockKind::kPerRecord;
    case 13:
      return BlockKind::kTexture;
    case 14:
    case 17:
    case 24:
    case 41:
    case 51:
    case 52:
    case 65:
      return BlockKind::kCounted;
    case 25:
      return BlockKind::kCountedWords;
    default:
      return BlockKind::kUnknown;
  }
}

size_t TextureRecord::rawNameLength() const {
  const void* nul = std::memchr(rawNameData(), '\0', kRawNameFieldSize);
  return nul ? static_cast<size_t>(static_cast<const char*>(nul) - rawNameData())
             : kRawNameFieldSize;
}

bool TextureRecord::rawNameEquals(const char* name, size_t length) const {
  return length == rawNameLength() && std::memcmp(rawNameData(), name, length) == 0;
}

void TextureRecord::storeRawName(const char* name, size_t length) {
  // A longer name cannot reach here: the command line refuses it. Clamp all
  // the same, so that the field is never overrun.
  if (length > kMaxRawNameLength) length = kMaxRawNameLength;
  std::memcpy(bytes_ + kRawNameOffset, name, length);
  bytes_[kRawNameOffset + length] = 0;
}

}  // namespace velkor
