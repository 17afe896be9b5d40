#include "binfile/wide_text.h"

#include <cstdint>

namespace velkor {
namespace {

bool isHighSurrogate(uint32_t u) { return u >= 0xd800 && u <= 0xdbff; }
bool isLowSurrogate(uint32_t u) { return u >= 0xdc00 && u <= 0xdfff; }

void appendCodePoint(uint32_t c, std::string* out) {
  // The lead byte's marker, by the number of continuation bytes after it.
  static const uint32_t kLeadMarker[] = {0x00, 0xc0, 0xe0, 0xf0};
  const int tail = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  out->push_back(static_cast<char>(kLeadMarker[tail] | c >> (6 * tail)));
  for (int k = tail - 1; k >= 0; --k) {
    out->push_back(static_cast<char>(0x80 | (c >> (6 * k) & 0x3f)));
  }
}

}  // namespace

std::string narrowFromWide(const char16_t* wide, size_t n) {
  std::string out;
  out.reserve(n * 3);
  for (size_t i = 0; i < n; ++i) {
    uint32_t u = wide[i];
    if (isHighSurrogate(u) && i + 1 < n && isLowSurrogate(wide[i + 1])) {
      u = 0x10000 + ((u - 0xd800) << 10) + (static_cast<uint32_t>(wide[i + 1]) - 0xdc00);
      ++i;
    }
    appendCodePoint(u, &out);
  }
  return out;
}

bool wideFromNarrow(const std::string& narrow, std::u16string* wide) {
  wide->clear();
  const size_t n = narrow.size();
  bool lastWasLoneHigh = false;
  for (size_t i = 0; i < n;) {
    const uint32_t b = static_cast<uint8_t>(narrow[i]);
    // The sequence's length by its lead byte (0: none starts with it), and
    // the bits of the code point that the lead byte holds.
    const size_t length =
        b < 0x80 ? 1 : b < 0xc2 ? 0 : b < 0xe0 ? 2 : b < 0xf0 ? 3 : b < 0xf5 ? 4 : 0;
    if (length == 0 || n - i < length) return false;
    static const uint32_t kLeadBits[] = {0, 0x7f, 0x1f, 0x0f, 0x07};
    uint32_t c = b & kLeadBits[length];
    for (size_t k = 1; k < length; ++k) {
      const uint32_t t = static_cast<uint8_t>(narrow[i + k]);
      if ((t & 0xc0) != 0x80) return false;
      c = c << 6 | (t & 0x3f);
    }
    static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[length] || c > 0x10ffff) return false;
    i += length;
    if (c >= 0x10000) {
      c -= 0x10000;
      wide->push_back(static_cast<char16_t>(0xd800 + (c >> 10)));
      wide->push_back(static_cast<char16_t>(0xdc00 + (c & 0x3ff)));
      lastWasLoneHigh = false;
      continue;
    }
    // A low surrogate right after a lone high one would read back as a pair.
    if (lastWasLoneHigh && isLowSurrogate(c)) return false;
    lastWasLoneHigh = isHighSurrogate(c);
    wide->push_back(static_cast<char16_t>(c));
  }
  return true;
}

}  // namespace velkor
