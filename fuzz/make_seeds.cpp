// Writes the seed inputs of the fuzz target into a folder: small BIN files
// from the project's writer, each with a rename and, for some, a real file
// or something that goes wrong.
//
//   velkor_fuzz_seeds DIR
#include <cstdio>
#include <string>
#include <vector>

#include "bin_writer.h"
#include "walk_check.h"

namespace velkor {
namespace {

std::vector<uint8_t> everyKind() {
  std::vector<uint8_t> b;
  BinWriter w(&b);
  w.prologue(2).perRecord(2).texture("t");
  for (uint32_t type : kCountedBlockTypes) w.counted(type, 1).counted(type, -1);
  w.countedWords(2).countedWords(-3).texture("abcdefghijklmnop").texture("t", 0, 0).endBlock();
  return b;
}

// The number of the nth operation of `kind` in a run renaming the file's
// first texture, in memory or on a real file, with `fault`.
int operation(char kind, int n, const std::vector<uint8_t>& file, bool real, const Fault& fault = {}) {
  const std::string first = runOnBytes(file, listRequest()).output.substr(15);
  const RunRequest rename = renameRequest(first.substr(0, first.find('\n')), "b");
  const std::string kinds = (real ? runOnRealFile : runOnBytes)(file, rename, fault).state->kinds;
  size_t at = std::string::npos;
  while (n-- > 0) at = kinds.find(kind, at + 1);
  return static_cast<int>(at + 1);
}

// Header byte 2 that fails operation n.
int failing(int n) { return kFuzzFirstFault + n - 1; }

void writeSeeds(const std::string& dir) {
  const std::vector<uint8_t> example = exampleBinFile();
  std::vector<uint8_t> unknown, bigCount, notBin, fullLines, noEnd, bigRecordCount;
  BinWriter(&unknown).prologue(0).texture("abc").word(15).texture("later").endBlock();
  // A count far beyond the file: the head only, no items.
  BinWriter(&bigCount).prologue(1).texture("a").word(51).word(0x7fffffff).word(1).word(2).word(3)
      .word(4).texture("b").endBlock();
  BinWriter(&notBin).prologue(0, 21).texture("abc").endBlock();
  BinWriter(&noEnd).prologue(0).texture("abc").texture("d");
  std::vector<uint8_t> cutHead = noEnd;
  BinWriter(&cutHead).word(14).word(1);
  BinWriter(&bigRecordCount).word(20).word(0).word(0).word(0).word(0x7fffffff).texture("abc").endBlock();
  // More lines than the lister holds back at once.
  BinWriter lines(&fullLines);
  lines.prologue(0);
  for (int i = 0; i < 2100; ++i) lines.texture("abcdefghijklmnop");
  lines.endBlock();
  // Longer than the read buffer: its second read lands mid-walk.
  const std::vector<uint8_t> twoReads = makeTestFile().bytes;
  const int real = kFuzzRealFile, stretchLater = kFuzzStretch | kFuzzStretchLater;
  const int write = operation('w', 1, example, false), realWrite = operation('w', 1, example, true);
  const int flush = operation('f', 1, example, false), realRead2 = operation('r', 2, twoReads, true);
  // The example's rename of brick01, with the header given.
  auto example01 = [&](const FuzzHeader& h) { return encodeFuzzCase("brick01", "b", example, h); };

  struct Seed {
    const char* name;
    std::vector<uint8_t> input;
  } seeds[] = {
      {"example", example01({})},
      {"every-kind", encodeFuzzCase("t", "abcdefghijklmno", everyKind())},
      {"full-name", encodeFuzzCase("abcdefghijklmnop", "x", everyKind())},
      {"unknown-block", encodeFuzzCase("abc", "xyz", unknown)},
      {"big-count", encodeFuzzCase("a", "b", bigCount)},
      {"not-bin", encodeFuzzCase("abc", "d", notBin)},
      {"stretched", encodeFuzzCase("t", "u", everyKind(), {0, 0, kFuzzStretch | 10})},
      {"stretched-gap", example01({0, 0, stretchLater | 5})},
      {"fault", example01({kFuzzFirstFault + 4, 7, kFuzzStretch | 3})},
      {"fault-length-query", example01({failing(write - 1)})},
      {"fault-second-read", encodeFuzzCase("abc", "d", twoReads, {failing(3)})},
      {"old-name-17", encodeFuzzCase("abcdefghijklmnopq", "x", everyKind())},
      {"cut-record", encodeFuzzCase("brick01", "q", {example.begin(), example.end() - 30})},
      {"three-bytes", encodeFuzzCase("a", "b", {0x14, 0, 0})},
      {"no-end-block", encodeFuzzCase("d", "e", noEnd)},
      {"cut-head", encodeFuzzCase("d", "e", cutHead)},
      {"record-count-beyond", encodeFuzzCase("abc", "d", bigRecordCount)},
      // The first read fails after it has read more than the prologue.
      {"read-fails-after-the-bytes-needed", example01({failing(2), 63})},
      // The length query before the first write finds the file cut short
      // before the name; the one at the start finds more than there is.
      {"length-says-shorter", example01({0, 0, 0, kFuzzSizeSays, 0x80, write - 1})},
      {"length-says-longer", encodeFuzzCase("d", "e", noEnd, {0, 0, 0, kFuzzSizeSays, 40, 1})},
      // The first write passes 7 bytes on and fails; so does its repair,
      // passing none. On a real file, the repair passes one.
      {"repair-fails-too", example01({failing(write), 7, 0, kFuzzThenFails, 0, write + 1})},
      {"real-file-repair-cut-short",
       example01({failing(realWrite), real | 6, 0, kFuzzThenFails, 1, realWrite + 1})},
      // The first write passes 5 bytes on and fails, and so does the flush;
      // the flush fails after an unknown block, or to a failed output.
      {"flush-fails-after-a-write", example01({failing(realWrite), real | 5, 0, kFuzzThenFails, 0,
                                               operation('f', 1, example, true, {realWrite, 5})})},
      {"flush-fails", encodeFuzzCase("abc", "b", unknown, {failing(operation('f', 1, unknown, true)), real})},
      {"flush-fails-output-fails", example01({failing(flush), 0, 0, kFuzzOutputFails})},
      // Standard output fails: as the lister hands on lines when it holds
      // too many, or at the end of a short listing, and for the count.
      {"output-fails", encodeFuzzCase("abcdefghijklmnop", "x", fullLines, {0, 0, 0, kFuzzOutputFails})},
      {"output-fails-short", example01({0, real, 0, kFuzzOutputFails})},
      {"many-lines", encodeFuzzCase("abcdefghijklmnop", "x", fullLines, {0, real})},
      // The stop comes at the first write, or in the list at the second read.
      {"stop", encodeFuzzCase("abc", "d", twoReads, {0, real, 0, kFuzzStop, 0, 3})},
      {"long-path", encodeFuzzCase("abc", "d", notBin, {0, kFuzzLongPath})},
      {"start-fails", encodeFuzzCase("abc", "d", example, {failing(1), real})},
      // On a real file: the store through the mapping, the write of the
      // part of a record that a write cut short put back, a read mid-walk.
      {"real-file", encodeFuzzCase("abc", "x", twoReads, {0, real, stretchLater | 63})},
      {"real-file-write-cut-short", example01({failing(realWrite), real | 9})},
      {"real-file-read-fails",
       encodeFuzzCase("abc", "d", twoReads, {failing(realRead2), real | kFuzzLongPath})},
  };
  // A seed that cannot be written ends the program with the reason.
  for (const Seed& s : seeds) writeFile(dir + "/" + s.name, s.input);

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
      writeFile(dir + "/" + name, encodeFuzzCase("abc", "x", file, {0, 0, kFuzzStretch | e.stretch}));
    }
  }
}

}  // namespace
}  // namespace velkor

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velkor_fuzz_seeds DIR\n");
    return 2;
  }
  velkor::writeSeeds(argv[1]);
  return 0;
}
