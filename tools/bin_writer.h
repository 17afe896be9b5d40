// Writes BIN files block by block: the example file, test inputs, benchmark
// inputs and fuzzing seeds all come from here.
#ifndef VELKOR_TOOLS_BIN_WRITER_H_
#define VELKOR_TOOLS_BIN_WRITER_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace velkor {

class BinWriter {
 public:
  // Appends to *out.
  explicit BinWriter(std::vector<uint8_t>* out) : memory_(out) {}
  // Streams to `out`, a file open for writing at its start; holes() leave
  // holes in it. Call finish() at the end.
  explicit BinWriter(std::FILE* out) : file_(out) {}
  BinWriter(const BinWriter&) = delete;
  BinWriter& operator=(const BinWriter&) = delete;
  ~BinWriter() { finish(); }

  // Version word, three prologue words, recordCount, then max(count, 0) items.
  BinWriter& prologue(int32_t recordCount, uint32_t version = 20);
  BinWriter& word(uint32_t value);
  BinWriter& bytes(const void* data, size_t n);
  // n bytes of a repeating pattern, never all zero.
  BinWriter& items(uint64_t n);
  // n zero bytes; in a streamed file, a hole that takes no disk space.
  BinWriter& hole(uint64_t n);

  BinWriter& endBlock() { return word(0); }
  // A texture block; the name (at most 16 bytes) is followed by a NUL if it
  // is shorter than the field, and the rest of the field holds `filler`.
  BinWriter& texture(const std::string& name, uint32_t leadWord = 0x01020304,
                     uint8_t filler = 0x5a);
  // A per-record block for a file whose prologue count is recordCount.
  BinWriter& perRecord(int32_t recordCount);
  // A counted block of `type` (14, 17, 24, 41, 51, 52 or 65) with itemCount
  // 12-byte items; sparse items are written as a hole.
  BinWriter& counted(uint32_t type, int32_t itemCount, bool sparse = false);
  // A counted-word block (25) with itemCount 4-byte words.
  BinWriter& countedWords(int32_t itemCount);

  // Bytes written so far: the offset of the next one.
  uint64_t offset() const { return offset_; }
  // Writes out what is buffered; false if the file refused it.
  bool finish();

 private:
  void append(const uint8_t* data, size_t n);

  std::vector<uint8_t>* memory_ = nullptr;
  std::FILE* file_ = nullptr;
  std::vector<uint8_t> pending_;
  uint64_t offset_ = 0;
  bool ok_ = true;
};

// The counted-block types, in the order the writer's users cycle through them.
extern const uint32_t kCountedBlockTypes[7];

// The small example file: textures among every other kind of block.
std::vector<uint8_t> exampleBinFile();

}  // namespace velkor

#endif  // VELKOR_TOOLS_BIN_WRITER_H_
