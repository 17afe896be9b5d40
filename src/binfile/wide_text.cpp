#include "binfile/wide_text.h"

#include <cstdint>

namespace velkor {
namespace {

bool isHighSurrogate(uint32_t u) { return u >= 0xd800 && u <= 0xdbff; }
bool isLowSurrogate(uint32_t u) { return u >= 0xdc00 && u <= 0xdfff; }

void appendCodePoint(uint32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xc0 | c >> 6));
    out->push_back(static_cast<char>(0x80 | (c & 0x3f)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xe0 | c >> 12));
    out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3f)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3f)));
  } else {
    out->push_back(static_cast<char>(0xf0 | c >> 18));
    out->push_back(static_cast<char>(0x80 | (c >> 12 & 0x3f)));
    out->push_back(static_cast<char>(0x80 | (c >> 6 & 0x3f)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3f)));
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
    size_t length;
    uint32_t c;
    if (b < 0x80) {
      length = 1;
      c = b;
    } else if (b >= 0xc2 && b <= 0xdf) {
      length = 2;
      c = b & 0x1f;
    } else if (b >= 0xe0 && b <= 0xef) {
      length = 3;
      c = b & 0x0f;
    } else if (b >= 0xf0 && b <= 0xf4) {
      length = 4;
      c = b & 0x07;
    } else {
      return false;
    }
    if (n - i < length) return false;
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
