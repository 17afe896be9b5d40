// The BIN file layout, as far as the tool needs it to step over the blocks.
//
//   offset 0   prologue (20): version word (must be 20), three words,
//                             recordCount (signed)
//   offset 20  recordCount item records (12 each); none when the count <= 0
//   then       blocks: a type word (4) and the body that the type prescribes,
//              up to and including an end block (type 0)
//
//   type            kind              body after the type word
//   0               end               none; ends the stream
//   3               per-record        recordCount items (12 each) + 2 words (8)
//   13              texture           texture record (20): lead word (4),
//                                     RAW name field (16)
//   14 17 24 41     counted           counted head (20) + itemCount items (12)
//   51 52 65
//   25              counted words     counted head (20) + itemCount words (4)
//   anything else   unknown           the walk stops there
//
// All words are 32-bit little-endian; types are unsigned, counts signed, and
// a count of zero or less means that no items follow.
#ifndef VELKOR_BINFILE_BIN_LAYOUT_H_
#define VELKOR_BINFILE_BIN_LAYOUT_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velkor {

constexpr uint32_t kBinVersion = 20;

constexpr size_t kWordSize = 4;
constexpr size_t kBinPrologueSize = 20;      // version (4) + three words (12) + recordCount (4)
constexpr size_t kRecordCountOffset = 16;    // within the prologue
constexpr size_t kItemRecordSize = 12;
constexpr size_t kCountedHeadSize = 20;      // itemCount (4) + rest of head (16)
constexpr size_t kCountedWordSize = 4;
constexpr size_t kTextureRecordSize = 20;    // leadWord (4) + rawName (16)
constexpr size_t kRawNameOffset = 4;         // within the texture record
constexpr size_t kRawNameFieldSize = 16;
constexpr size_t kPerRecordTailSize = 8;     // two words after a per-record block's items
constexpr size_t kMaxRawNameLength = 15;     // longest name written; its NUL fills the field

// The word that starts every block, read as an unsigned value.
using BlockType = uint32_t;

// What a block type announces, as the table above gives it.
enum class BlockKind {
  kEndBlock, kPerRecordBlock, kTextureBlock, kCountedBlock, kCountedWordBlock, kUnknownBlock
};

// Classifies a block type word. Inline, so that the walk's own switch can
// absorb it; the texture block, by far the most frequent, is asked about
// first: along that path the walk knows the kind, and so the block's size.
inline BlockKind classifyBlockType(BlockType type) {
  if (type == 13) return BlockKind::kTextureBlock;
  switch (type) {
    case 0:
      return BlockKind::kEndBlock;
    case 3:
      return BlockKind::kPerRecordBlock;
    case 14: case 17: case 24: case 41: case 51: case 52: case 65:
      return BlockKind::kCountedBlock;
    case 25:
      return BlockKind::kCountedWordBlock;
    default:
      return BlockKind::kUnknownBlock;
  }
}

// Decodes a little-endian word.
// REQUIRES: 4 readable bytes at p.
inline uint32_t decodeU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Decodes a little-endian two's-complement word.
// REQUIRES: 4 readable bytes at p.
inline int32_t decodeI32(const uint8_t* p) {
  const uint32_t u = decodeU32(p);
  return u <= 0x7fffffffu ? static_cast<int32_t>(u) : -static_cast<int32_t>(~u) - 1;
}

// Bytes of the items of a per-record, counted or counted-word block, in 64
// bits, which no count can overflow.
inline uint64_t itemBytes(int32_t count, size_t itemSize) {
  return count <= 0 ? 0 : static_cast<uint64_t>(count) * itemSize;
}

// Bytes after the type word that must be read before a block of this kind
// can be sized or acted on: the counted head or the texture record.
inline size_t blockHeadSize(BlockKind kind) {
  if (kind == BlockKind::kTextureBlock) return kTextureRecordSize;
  const bool counted = kind == BlockKind::kCountedBlock || kind == BlockKind::kCountedWordBlock;
  return counted ? kCountedHeadSize : 0;
}

// The most that blockHeadSize() asks for, with the type word before it.
constexpr size_t kLongestBlockStart = kWordSize + kCountedHeadSize;
static_assert(kCountedHeadSize == kTextureRecordSize, "both follow the type word");

// Size of a whole block, type word included. `head` points at the
// blockHeadSize(kind) bytes after the type word; recordCount is the
// prologue's. This is the one place where a block's size is worked out.
// REQUIRES: kind is neither the end block nor unknown.
inline uint64_t blockSize(BlockKind kind, const uint8_t* head, int32_t recordCount) {
  switch (kind) {
    case BlockKind::kPerRecordBlock:
      return kWordSize + itemBytes(recordCount, kItemRecordSize) + kPerRecordTailSize;
    case BlockKind::kCountedBlock:
      return kWordSize + kCountedHeadSize + itemBytes(decodeI32(head), kItemRecordSize);
    case BlockKind::kCountedWordBlock:
      return kWordSize + kCountedHeadSize + itemBytes(decodeI32(head), kCountedWordSize);
    default:  // a texture block
      return kWordSize + kTextureRecordSize;
  }
}

// The RAW name of the texture record whose 20 bytes start at `record` is
// the name field's bytes before its first NUL, all 16 when it has none. The
// calls below work on the record where it lies and never read past the field.
//
// Length of that RAW name (0 to 16) on any processor: the field's two words
// of 8 bytes, first byte lowest, are searched for a zero byte at once; the
// one holding the first is chosen without a branch, as names end in either
// half about as often.
inline size_t rawNameLengthByWords(const uint8_t* record) {
  constexpr uint64_t kOnes = 0x0101010101010101u;
  constexpr uint64_t kTops = 0x8080808080808080u;
  uint64_t zeros[2];
  for (size_t half = 0; half < 2; ++half) {
    const uint8_t* bytes = record + kRawNameOffset + 8 * half;
    const uint64_t word = decodeU32(bytes) | static_cast<uint64_t>(decodeU32(bytes + 4)) << 32;
    // The top bit of every zero byte is set; so can be that of a byte
    // above a zero one (the subtraction borrows), never of one below it.
    zeros[half] = (word - kOnes) & ~word & kTops;
  }
  const size_t before = zeros[0] != 0 ? 0 : 8;  // bytes before the half searched
  const uint64_t found = zeros[0] != 0 ? zeros[0] : zeros[1];
  if (found == 0) return kRawNameFieldSize;
  return before + static_cast<size_t>(__builtin_ctzll(found)) / 8;
}

// The same, by one 16-byte compare where the processor has SSE2 (every
// x86-64 does); elsewhere by the words above.
inline size_t rawNameLength(const uint8_t* record) {
#if defined(__SSE2__)
  const __m128i field = _mm_loadu_si128(reinterpret_cast<const __m128i*>(record + kRawNameOffset));
  const int zeros = _mm_movemask_epi8(_mm_cmpeq_epi8(field, _mm_setzero_si128()));
  return zeros != 0 ? static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(zeros)))
                    : kRawNameFieldSize;
#else
  return rawNameLengthByWords(record);
#endif
}

// A RAW name made ready to be compared with many name fields, which match
// when they hold its bytes and then a NUL or the field's end (the rest does
// not count); eight bytes at a time, with no call or branch per byte.
class RawNamePattern {
 public:
  // A name longer than the field matches no field.
  explicit RawNamePattern(const std::string& name);

  // True when the RAW name of the texture record at `record` is the name.
  bool matches(const uint8_t* record) const {
    uint64_t low, high;
    std::memcpy(&low, record + kRawNameOffset, 8);
    std::memcpy(&high, record + kRawNameOffset + 8, 8);
    return (((low ^ bytes_[0]) & mask_[0]) | ((high ^ bytes_[1]) & mask_[1])) == 0 && fits_;
  }

 private:
  // The bytes that count, and a mask that keeps just those, both as the
  // field's 16 bytes load into two words.
  uint64_t bytes_[2] = {};
  uint64_t mask_[2] = {};
  bool fits_;
};

// The body of a texture block, copied out to be renamed: 20 raw bytes, the
// lead word and the RAW name field.
class TextureRecord {
 public:
  uint8_t* bytes() { return bytes_; }

  // Stores `name` and its NUL at the start of the name field, leaving the
  // field's later bytes and the lead word as they were.
  // REQUIRES: length <= kMaxRawNameLength.
  void storeRawName(const char* name, size_t length);

 private:
  uint8_t bytes_[kTextureRecordSize] = {};
};

}  // namespace velkor

#endif  // VELKOR_BINFILE_BIN_LAYOUT_H_
