// Writes the seed inputs of the fuzz target into a folder: small BIN files
// from the project's writer, each with a rename and, for some, a fault.
//
//   velkor_fuzz_seeds DIR
#include <cstdio>
#include <string>
#include <vector>

#include "bin_writer.h"
#include "walk_check.h"

namespace {

using velkor::BinWriter;

std::vector<uint8_t> everyKind() {
  std::vector<uint8_t> b;
  BinWriter w(&b);
  w.prologue(2).perRecord(2).texture("t");
  for (uint32_t type : velkor::kCountedBlockTypes) w.counted(type, 1).counted(type, -1);
  w.countedWords(2).countedWords(-3).texture("abcdefghijklmnop").texture("t", 0, 0).endBlock();
  return b;
}

std::vector<uint8_t> cut(std::vector<uint8_t> b, size_t n) {
  b.resize(n);
  return b;
}

bool writeSeed(const std::string& dir, const char* name, const std::vector<uint8_t>& input) {
  const std::string path = dir + "/" + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::perror(path.c_str());
    return false;
  }
  bool ok = std::fwrite(input.data(), 1, input.size(), f) == input.size();
  if (std::fclose(f) != 0) ok = false;
  if (!ok) std::fprintf(stderr, "velkor_fuzz_seeds: could not write %s\n", path.c_str());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velkor_fuzz_seeds DIR\n");
    return 2;
  }
  using velkor::encodeFuzzCase;
  const std::string dir = argv[1];
  const std::vector<uint8_t> example = velkor::exampleBinFile();
  std::vector<uint8_t> unknown, bigCount, notBin;
  BinWriter(&unknown).prologue(0).texture("abc").word(15).texture("later").endBlock();
  // A count far beyond the file: the head only, no items.
  BinWriter(&bigCount).prologue(1).texture("a").word(51).word(0x7fffffff).word(1).word(2).word(3)
      .word(4).texture("b").endBlock();
  BinWriter(&notBin).prologue(0, 21).texture("abc").endBlock();

  struct Seed {
    const char* name;
    std::vector<uint8_t> input;
  } seeds[] = {
      {"example", encodeFuzzCase("brick01", "b", example)},
      {"every-kind", encodeFuzzCase("t", "abcdefghijklmno", everyKind())},
      {"full-name", encodeFuzzCase("abcdefghijklmnop", "x", everyKind())},
      {"unknown-block", encodeFuzzCase("abc", "xyz", unknown)},
      {"cut-record", encodeFuzzCase("brick01", "q", cut(example, example.size() - 30))},
      {"big-count", encodeFuzzCase("a", "b", bigCount)},
      {"not-bin", encodeFuzzCase("abc", "d", notBin)},
      {"stretched", encodeFuzzCase("t", "u", everyKind(), velkor::kFuzzNoFault, 0,
                                   velkor::kFuzzStretch | 10)},
      {"stretched-gap", encodeFuzzCase("brick01", "b", example, velkor::kFuzzNoFault, 0,
                                       velkor::kFuzzStretch | velkor::kFuzzStretchLater | 5)},
      {"fault", encodeFuzzCase("brick01", "b", example, velkor::kFuzzFirstFault + 4, 7,
                               velkor::kFuzzStretch | 3)},
  };
  bool ok = true;
  for (const Seed& s : seeds) ok = writeSeed(dir, s.name, s.input) && ok;
  return ok ? 0 : 1;
}
