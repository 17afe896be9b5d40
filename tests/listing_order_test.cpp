// A listing longer than every buffer on its way out: the texture lines are
// held back and written a buffer at a time, and whatever ends the walk must
// still come after all of them, with no line lost, doubled or cut.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bin_writer.h"
#include "binfile/bin_file.h"
#include "support/test_support.h"
#include "walk_check.h"

namespace velkor {
namespace {

struct LongListing {
  std::vector<uint8_t> file;  // ends right after the last texture
  std::string lines;          // what listing all its textures prints
};

// Textures with names of every length from 0 to 16, among blocks of sizes
// that put texture records across the ends of the read buffer at many
// different offsets. The lines far exceed the lister's line buffer.
LongListing longListing() {
  LongListing l;
  BinWriter w(&l.file);
  w.prologue(2);
  for (int i = 0; i < 30000; ++i) {
    std::string name;
    for (int c = 0; c < i % 17; ++c) name += static_cast<char>('a' + (i + c) % 26);
    w.texture(name, static_cast<uint32_t>(i), 0x61);
    l.lines += "Found texture: " + name + "\n";
    if (i % 3 == 0) w.counted(kCountedBlockTypes[i % 7], i % 5);
    if (i % 7 == 0) w.countedWords(i % 11);
    if (i % 13 == 0) w.perRecord(2);
  }
  return l;
}

TEST(ListingOrder, EveryLineBeforeTheMessageThatEndsTheWalkOrAFailedRead) {
  const LongListing base = longListing();
  ASSERT_GT(base.file.size(), 4 * BinFile::kBufferSize);
  ASSERT_GT(base.lines.size(), 4 * 64 * 1024u);

  struct Case {
    const char* name;
    void (*ending)(BinWriter&);
    size_t cut;         // bytes taken off the end of the file afterwards
    int64_t stop;       // the walk ends at the ending: -2 cleanly, else as stopLine says
    int status;
    // Textures of the longest name before the ending, after the prologue
    // alone instead of the long listing (0: none).
    int longest = 0;
  } cases[] = {
      {"end block", [](BinWriter& w) { w.endBlock(); }, 0, -2, 0},
      {"unknown block", [](BinWriter& w) { w.word(15).texture("never"); }, 0, 15, 0},
      {"texture cut short", [](BinWriter& w) { w.texture("cut"); }, 5, -1, 1},
      {"counted items cut short", [](BinWriter& w) { w.counted(52, 1000); }, 1, -1, 1},
      // 2,048 longest lines fill the lister's buffer to its last byte.
      {"the line buffer full", [](BinWriter& w) { w.endBlock(); }, 0, -2, 0, 2049},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LongListing l = c.longest ? LongListing{binOf([](BinWriter& w) { w.prologue(0); }), ""} : base;
    for (int i = 0; i < c.longest; ++i) {
      BinWriter(&l.file).texture("abcdefghijklmnop");
      l.lines += "Found texture: abcdefghijklmnop\n";
    }
    const uint64_t endingAt = l.file.size();
    BinWriter w(&l.file);
    c.ending(w);
    l.file.resize(l.file.size() - c.cut);
    RunOutcome r = runOnBytes(l.file, listRequest());
    const std::string last = c.stop == -2 ? "" : stopLine(endingAt, c.stop);
    EXPECT_EQ(r.status, c.status);
    // Compared whole: a mismatch anywhere in half a megabyte of lines.
    EXPECT_TRUE(r.output == l.lines + last) << "output of " << r.output.size() << " bytes differs; expected "
                                            << l.lines.size() << " bytes of lines, then: " << last;
    // A read that fails part way: the lines printed are exactly the first
    // lines of the whole listing, none cut, and the failure is the last
    // thing printed (checked by checkRun, as after every fault).
    FuzzCase f{"", "", {}, l.file};
    EXPECT_TRUE(c.longest || r.state->operations() > 6) << "the file takes few reads";
    for (f.fault.at = 1; f.fault.at <= r.state->operations(); ++f.fault.at) {
      SCOPED_TRACE(f.fault.at);
      EXPECT_EQ(checkRun(f, runOnBytes), "");
    }
  }
}

}  // namespace
}  // namespace velkor
