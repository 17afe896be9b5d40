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

}  // namespace velkor
