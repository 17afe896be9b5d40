#include <gtest/gtest.h>

#include <string>

#include "binfile/wide_text.h"

namespace velkor {
namespace {

// The path's 8-bit form, which carries a Windows name through the shared
// code: every UTF-16 name comes back unit for unit, and a string that is no
// such form is refused rather than opened as some other name.
TEST(WidePath, EveryNameSurvivesAndNothingElseDecodes) {
  const std::u16string names[] = {
      u"", u"a.bin", u"t\u0101st.bin", u"\u03a9mega", u"\u65e5\u672c\u8a9e.bin",
      u"\\\\?\\Z:\\x", u"\U0001F600.bin",
      std::u16string(1, char16_t(0xd800)) + u"x",           // a lone high surrogate
      u"x" + std::u16string(1, char16_t(0xdfff)),           // a lone low surrogate
      std::u16string{char16_t(0xdc00), char16_t(0xd800)},  // reversed: two lone ones
  };
  for (const std::u16string& name : names) {
    std::u16string back;
    ASSERT_TRUE(wideFromNarrow(narrowFromWide(name.data(), name.size()), &back));
    EXPECT_TRUE(back == name) << narrowFromWide(name.data(), name.size());
  }
  const char* notForms[] = {
      "\xff", "\xc0\x80", "\xe0\x80\x80", "\xc3", "\xf4\x90\x80\x80", "a\x80",
      "\xed\xa0\x80\xed\xb0\x80",  // a pair written as two surrogates
  };
  for (const char* s : notForms) {
    std::u16string back;
    EXPECT_FALSE(wideFromNarrow(s, &back)) << s;
  }
}

}  // namespace
}  // namespace velkor
