#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "bin_writer.h"
#include "binfile/bin_layout.h"

namespace velkor {
namespace {

std::string rawNameOf(TextureRecord r) {
  return std::string(reinterpret_cast<const char*>(r.bytes()) + kRawNameOffset,
                     rawNameLength(r.bytes()));
}

// Which kind each known type is, the walk's tests show by what it does.
TEST(BlockTypes, OnlyTheElevenKnownTypesAreKnown) {
  const std::set<uint32_t> known = {0, 3, 13, 14, 17, 24, 25, 41, 51, 52, 65};
  std::vector<uint32_t> types = {0x7fffffffu, 0x80000000u, 0x8000000du, 0xffffffffu, 0x100000du};
  for (uint32_t type = 0; type < 300; ++type) types.push_back(type);
  for (uint32_t type : types) {
    EXPECT_EQ(classifyBlockType(type) != BlockKind::kUnknownBlock, known.count(type) == 1) << "type " << type;
  }
}

TEST(Words, DecodeLittleEndianSignedAndUnsigned) {
  struct Case {
    uint8_t bytes[4];
    uint32_t u;
    int32_t i;
  } cases[] = {
      {{0x14, 0, 0, 0}, 20, 20},
      {{0x78, 0x56, 0x34, 0x12}, 0x12345678u, 0x12345678},
      {{0xff, 0xff, 0xff, 0x7f}, 0x7fffffffu, 2147483647},
      {{0, 0, 0, 0x80}, 0x80000000u, -2147483647 - 1},
      {{0xff, 0xff, 0xff, 0xff}, 0xffffffffu, -1},
      {{0xfe, 0xff, 0xff, 0xff}, 0xfffffffeu, -2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(decodeU32(c.bytes), c.u);
    EXPECT_EQ(decodeI32(c.bytes), c.i);
    std::vector<uint8_t> round;
    BinWriter(&round).word(c.u);
    EXPECT_EQ(std::memcmp(round.data(), c.bytes, 4), 0);
  }
}

TEST(Words, CountedBodiesNeverOverflowAndIgnoreNegativeCounts) {
  EXPECT_EQ(itemBytes(2, kItemRecordSize), 24u);
  EXPECT_EQ(itemBytes(0, kItemRecordSize), 0u);
  EXPECT_EQ(itemBytes(-1, kItemRecordSize), 0u);
  EXPECT_EQ(itemBytes(-2147483647 - 1, kItemRecordSize), 0u);
  EXPECT_EQ(itemBytes(2147483647, kItemRecordSize), 25769803764ull);
  EXPECT_EQ(itemBytes(2147483647, kCountedWordSize), 8589934588ull);
}

TextureRecord recordWithField(const char (&field)[17]) {
  TextureRecord r;
  std::memcpy(r.bytes(), "\xef\xbe\xad\xde", 4);  // the lead word 0xdeadbeef
  std::memcpy(r.bytes() + kRawNameOffset, field, kRawNameFieldSize);
  return r;
}

// A name ends at the first NUL or with the field, and matches only the
// whole name, case and all; a field's own name is also read word by word.
TEST(TextureRecordName, NameEndsAtTheFirstNulAndMatchesOnlyWhole) {
  struct Case {
    char field[17];
    const char* name;
    bool matches;  // and then it is the field's name
  } cases[] = {
      {"brick01\0ick01\0xy", "brick01", true},
      {"brick01\0ZZZZZZZZ", "Brick01", false},
      {"brick01\0ZZZZZZZZ", "brick0", false},
      {"brick01\0ZZZZZZZZ", "brick01Z", false},  // bytes after the NUL are not the name
      {"brick01\0ZZZZZZZZ", "", false},
      {"\0bcdefghijklmnop", "", true},
      {"abcdefghijklmnop", "abcdefghijklmno", false},
      {"abcdefghijklmnop", "abcdefghijklmnop", true},  // no NUL: a 16-character name
      {"abcdefghijklmnop", "abcdefghijklmnopq", false},  // longer than any field
      {"abcdefghijklmno\0", "abcdefghijklmno", true},
      {"abcdefgh\0\1\1\1\1\1\1\1", "abcdefgh", true},        // ends where the second half starts
      {"abcdefgh\0jklmnop", "abcdefgi", false},
      {"\xff\x81\1z\0\1\xff\0abcdefgh", "\xff\x81\1z", true},  // bytes 0x80 and up, and 1
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TextureRecord r = recordWithField(c.field);
    EXPECT_EQ(RawNamePattern(c.name).matches(r.bytes()), c.matches);
    if (c.matches) {
      EXPECT_EQ(rawNameOf(r), c.name);
      EXPECT_EQ(rawNameLengthByWords(r.bytes()), std::strlen(c.name));
    }
    EXPECT_EQ(decodeU32(r.bytes()), 0xdeadbeefu);
  }
}

TEST(TextureRecordName, StoreKeepsTheRestOfTheFieldAndTheLeadWord) {
  struct Case {
    char before[17];
    const char* name;
    char after[17];
  } cases[] = {
      {"brick01\0ZZZZZZZZ", "b", "b\0ick01\0ZZZZZZZZ"},
      {"brick01\0ZZZZZZZZ", "", "\0rick01\0ZZZZZZZZ"},
      {"abcdefghijklmnop", "abcdefghijklmnO", "abcdefghijklmnO\0"},
      {"ab\0ZZZZZZZZZZZZZ", "wall", "wall\0ZZZZZZZZZZZ"},
  };
  for (const Case& c : cases) {
    TextureRecord r = recordWithField(c.before);
    r.storeRawName(c.name, std::strlen(c.name));
    EXPECT_EQ(std::memcmp(r.bytes() + kRawNameOffset, c.after, kRawNameFieldSize), 0) << c.name;
    EXPECT_EQ(rawNameOf(r), c.name);
    EXPECT_EQ(decodeU32(r.bytes()), 0xdeadbeefu);
  }
}

}  // namespace
}  // namespace velkor
