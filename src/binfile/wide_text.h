// Paths between UTF-16, as Windows names files, and the tool's 8-bit
// strings: UTF-8, extended so that any sequence of 16-bit units survives the
// round trip (a lone surrogate, which Windows allows in names, is kept as
// the three bytes UTF-8 would give its code point).
#ifndef VELKOR_BINFILE_WIDE_TEXT_H_
#define VELKOR_BINFILE_WIDE_TEXT_H_

#include <string>

namespace velkor {

// The 8-bit form of the n units at `wide`. Never fails.
std::string narrowFromWide(const char16_t* wide, size_t n);

// Decodes the 8-bit form back into *wide. Returns false (and *wide is
// unspecified) if `narrow` is not such a form: bytes that are no UTF-8, an
// overlong or out-of-range sequence, or a surrogate pair written as two
// separate surrogates (which would not come back as written).
bool wideFromNarrow(const std::string& narrow, std::u16string* wide);

}  // namespace velkor

#endif  // VELKOR_BINFILE_WIDE_TEXT_H_
