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
  // The length query just before the first record's write, as a clean run
  // of the rename makes it.
  const size_t lengthQuery =
      velkor::runOnBytes(example, velkor::renameRequest("brick01", "b"), {}).state->kinds.find("zw") + 1;
  // Longer than the read buffer: its second read lands mid-walk.
  const std::vector<uint8_t> twoReads = velkor::makeTestFile().bytes;

  struct Seed {
    const char* name;
    std::vector<uint8_t> input;
  } seeds[] = {
      {"example", encodeFuzzCase("brick01", "b", example)},
      {"every-kind", encodeFuzzCase("t", "abcdefghijklmno", everyKind())},
      {"full-name", encodeFuzzCase("abcdefghijklmnop", "x", everyKind())},
      {"unknown-block", encodeFuzzCase("abc", "xyz", unknown)},
      {"cut-record", encodeFuzzCase("brick01", "q", {example.begin(), example.end() - 30})},
      {"big-count", encodeFuzzCase("a", "b", bigCount)},
      {"not-bin", encodeFuzzCase("abc", "d", notBin)},
      {"stretched", encodeFuzzCase("t", "u", everyKind(), velkor::kFuzzNoFault, 0,
                                   velkor::kFuzzStretch | 10)},
      {"stretched-gap", encodeFuzzCase("brick01", "b", example, velkor::kFuzzNoFault, 0,
                                       velkor::kFuzzStretch | velkor::kFuzzStretchLater | 5)},
      {"fault", encodeFuzzCase("brick01", "b", example, velkor::kFuzzFirstFault + 4, 7,
                               velkor::kFuzzStretch | 3)},
      {"fault-length-query", encodeFuzzCase("brick01", "b", example,
                                            static_cast<uint8_t>(velkor::kFuzzFirstFault + lengthQuery - 1))},
      {"fault-second-read", encodeFuzzCase("abc", "d", twoReads, velkor::kFuzzFirstFault + 2)},
      {"old-name-17", encodeFuzzCase("abcdefghijklmnopq", "x", everyKind())},
  };
  // A seed that cannot be written ends the program with the reason.
  for (const Seed& s : seeds) velkor::writeFile(dir + "/" + s.name, s.input);

  // Each kind of block with its type word 12, 8 or 16 bytes before the end
  // of the first read buffer, so that its head or record lies across it.
  // Blocks start at multiples of 4: the stretch before them lands on
  // multiples of 12, and a counted-word block of 1 or 2 words shifts by 4
  // or 8 more.
  struct Kind {
    const char* name;
    void (*put)(BinWriter&);
  } kinds[] = {
      {"per-record", [](BinWriter& w) { w.perRecord(2); }},
      {"texture", [](BinWriter& w) { w.texture("abc"); }},
      {"counted", [](BinWriter& w) { w.counted(65, 3); }},
      {"counted-words", [](BinWriter& w) { w.countedWords(5); }},
      {"unknown", [](BinWriter& w) { w.word(15); }},
      {"end", [](BinWriter& w) { w.endBlock(); }},
  };
  struct Edge {
    int before;
    uint8_t stretch;
    int32_t shiftWords;  // -1: no shifting block
  } edges[] = {{12, 5, -1}, {8, 30, 1}, {16, 40, 2}};
  for (const Kind& k : kinds) {
    for (const Edge& e : edges) {
      std::vector<uint8_t> file;
      BinWriter w(&file);
      w.prologue(2).items(2);
      if (e.shiftWords >= 0) w.countedWords(e.shiftWords);
      k.put(w);
      w.texture("abc").endBlock();
      const std::string name = std::string("edge-") + k.name + "-" + std::to_string(e.before);
      velkor::writeFile(dir + "/" + name, encodeFuzzCase("abc", "x", file, velkor::kFuzzNoFault, 0,
                                                       static_cast<uint8_t>(velkor::kFuzzStretch | e.stretch)));
    }
  }
  return 0;
}
