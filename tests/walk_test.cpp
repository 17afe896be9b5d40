// The walk and the two texture actions, in-process, on files in memory.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>

#include "bin_writer.h"
#include "binfile/bin_file.h"
#include "binfile/bin_layout.h"
#include "binfile/block_walk.h"
#include "support/test_support.h"

namespace velkor {
namespace {

// The smallest useful file: one item, one texture named abc, the end block.
std::vector<uint8_t> workedExample() {
  std::vector<uint8_t> b = {0x14, 0, 0, 0};
  for (int i = 0; i < 12; ++i) b.push_back(static_cast<uint8_t>(0xa0 + i));  // prologue words
  b.insert(b.end(), {1, 0, 0, 0});                                               // recordCount 1
  for (int i = 0; i < 12; ++i) b.push_back(static_cast<uint8_t>(0xc0 + i));  // one item
  b.insert(b.end(), {0x0d, 0, 0, 0});                                            // texture block
  b.insert(b.end(), {0x99, 0x98, 0x97, 0x96});                                   // lead word
  b.insert(b.end(), {'a', 'b', 'c', 0});
  for (int i = 0; i < 12; ++i) b.push_back(static_cast<uint8_t>(0xe0 + i));
  b.insert(b.end(), {0, 0, 0, 0});                                               // end block
  return b;
}

// A rename writes the new name and its NUL into each matching name field
// and nothing else: the rest of the field and the lead word keep their
// bytes. The file is flushed, and lists with the new names.
TEST(Walk, RenameWritesOnlyTheNewNameAndItsNul) {
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    const char* oldName;
    const char* newName;
    std::vector<size_t> fields;  // the name fields that match
    const char* listing;         // of the file afterwards
  } cases[] = {
      {"worked example", workedExample(), "abc", "xyz", {40}, "Found texture: xyz\n"},
      // Name fields of the first and third textures: 32 + 8 and 32 + 24 + 24 + 48 + 8.
      {"case and whole name", binOf([](BinWriter& w) {
         w.prologue(1).texture("brick01", 7, 0x33).texture("Brick01").counted(17, 2)
             .texture("brick01", 9, 0x44).texture("brick010").endBlock();
       }), "brick01", "b", {40, 136},
       "Found texture: b\nFound texture: Brick01\nFound texture: b\nFound texture: brick010\n"},
      {"empty new name", binOf([](BinWriter& w) { w.prologue(0).texture("wall").endBlock(); }),
       "wall", "", {28}, "Found texture: \n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunOutcome r = runOnBytes(c.file, renameRequest(c.oldName, c.newName));
    EXPECT_EQ(r.output, "Renamed " + std::to_string(c.fields.size()) + " blocks\n");
    EXPECT_EQ(r.status, 0);
    std::vector<uint8_t> expected = c.file;
    for (size_t at : c.fields) std::memcpy(&expected[at], c.newName, std::strlen(c.newName) + 1);
    EXPECT_EQ(r.state->data, expected);
    EXPECT_EQ(r.state->closes, 1);
    EXPECT_EQ(r.state->flushes, 1);
    EXPECT_FALSE(r.state->writtenSinceFlush);
    EXPECT_EQ(runOnBytes(r.state->data, listRequest()).output, c.listing);
  }
}

struct Scenario {
  const char* name;
  std::vector<uint8_t> file;
  RunRequest request;
  std::string output;
  int status;
  Fault fault = {};  // of the in-memory file
};

std::vector<Scenario> scenarios() {
  const auto twoAbc = binOf([](BinWriter& w) { w.prologue(0).texture("abc").texture("abd").texture("abc").endBlock(); });
  const std::vector<uint8_t> twoNoEnd = binOf([](BinWriter& w) { w.prologue(0).texture("a").texture("b"); });
  const std::vector<uint8_t> cutRecord(twoNoEnd.begin(), twoNoEnd.end() - 4);
  const auto full16 = binOf([](BinWriter& w) { w.prologue(0).texture("abcdefghijklmnop").endBlock(); });
  // Lines that fill the lister's 64 KiB to 31 bytes short of its end, then
  // a longest line (32 bytes), which must not be put there, and one more.
  // The process asked the run to stop before the first block.
  static const std::atomic<int> kStopAsked{1};
  RunRequest stoppedList = listRequest(), stoppedRename = renameRequest("abc", "d");
  stoppedList.stopRequested = stoppedRename.stopRequested = &kStopAsked;
  // The read-ahead goes past the end block: a read that fails there, after
  // giving every byte the walk asked for, does not fail the run. The read
  // that fails is the first, after the size query, which asks for the whole
  // file; the walk asks again only for bytes it needs and did not get.
  const auto pastEnd = binOf([](BinWriter& w) { w.prologue(0).texture("abc").endBlock().word(7).word(7); });
  const size_t walked = pastEnd.size() - 8;
  return {
      {"end first, list", binOf([](BinWriter& w) { w.prologue(3).endBlock(); }), listRequest(), "", 0},
      {"end first, rename", binOf([](BinWriter& w) { w.prologue(3).endBlock(); }),
       renameRequest("a", "b"), "Renamed 0 blocks\n", 0},
      {"version 21", binOf([](BinWriter& w) { w.prologue(0, 21).texture("abc").endBlock(); }), listRequest(),
       "t.bin is not a valid BIN file\n", 1},
      {"version 0x14000000", binOf([](BinWriter& w) { w.prologue(0, 0x14000000).texture("abc").endBlock(); }),
       listRequest(), "t.bin is not a valid BIN file\n", 1},
      {"three bytes", {0x14, 0, 0}, renameRequest("a", "b"), "t.bin is not a valid BIN file\n", 1},
      {"the prologue alone", binOf([](BinWriter& w) { w.prologue(0); }), listRequest(),
       "Found incomplete block at 14, leaving\n", 1},
      {"ffffffff", binOf([](BinWriter& w) { w.prologue(0).word(0xffffffff); }), listRequest(),
       "Found unknown ffffffff block at 14, leaving\n", 0},
      {"two matches", twoAbc, renameRequest("abc", "d"), "Renamed 2 blocks\n", 0},
      {"same name", twoAbc, renameRequest("abc", "abc"), "Renamed 2 blocks\n", 0},
      {"no match", twoAbc, renameRequest("ABC", "d"), "Renamed 0 blocks\n", 0},
      {"listing repeats names", twoAbc, listRequest(),
       "Found texture: abc\nFound texture: abd\nFound texture: abc\n", 0},
      {"16-character name", full16, listRequest(), "Found texture: abcdefghijklmnop\n", 0},
      {"16-character name renamed", full16, renameRequest("abcdefghijklmnop", "q"),
       "Renamed 1 blocks\n", 0},
      {"15-character old name misses 16", full16, renameRequest("abcdefghijklmno", "q"),
       "Renamed 0 blocks\n", 0},
      {"bytes after the end block",
       binOf([](BinWriter& w) { w.prologue(0).texture("abc").endBlock().word(99).texture("ghost").word(15); }),
       listRequest(), "Found texture: abc\n", 0},
      {"stop asked, list", twoAbc, stoppedList, "", 1},
      {"stop asked, rename", twoAbc, stoppedRename, "Renamed 0 blocks\n", 1},
      {"worked example", workedExample(), listRequest(), "Found texture: abc\n", 0},
      {"read failing just past the end", pastEnd, listRequest(), "Found texture: abc\n", 0,
       {2, pastEnd.size() - 1}},
      {"read failing at the end block's end", pastEnd, listRequest(), "Found texture: abc\n", 0, {2, walked}},
      // Short of the end block, or with the prologue alone: the walk reads
      // again from there.
      {"read failing at the end block", pastEnd, listRequest(), "Found texture: abc\n", 0, {2, walked - 1}},
      {"read failing after the prologue", pastEnd, listRequest(), "Found texture: abc\n", 0,
       {2, kBinPrologueSize}},
      {"read failing within the prologue", pastEnd, listRequest(), "Unable to read t.bin\n", 1,
       {2, kBinPrologueSize - 1}},
      // Cut short by another program after the run learned its length: the
      // bytes that are gone are never taken for the file's.
      {"cut after its length was read, list", twoNoEnd, listRequest(),
       "Found texture: a\nFound texture: b\nFound incomplete block at 44, leaving\n", 1, {0, 0, 24}},
      {"cut after its length was read, rename", twoNoEnd, renameRequest("b", "c"),
       "Found incomplete block at 44, leaving\nRenamed 1 blocks\n", 1, {0, 0, 24}},
      {"cut within the last texture record", cutRecord, listRequest(),
       "Found texture: a\nFound incomplete block at 2c, leaving\n", 1, {0, 0, 28}},
      // Cut short within the name field just before it is written (the
      // size query before the write is operation 3): nothing is written.
      {"cut within the name before its write", workedExample(), renameRequest("abc", "x"),
       "Unable to write t.bin\nRenamed 0 blocks\n", 1, {0, 0, -12, 3}},
  };
}

TEST(Walk, Scenarios) {
  for (const Scenario& s : scenarios()) {
    SCOPED_TRACE(s.name);
    RunOutcome r = runOnBytes(s.file, s.request, s.fault);
    EXPECT_EQ(r.output, s.output);
    EXPECT_EQ(r.status, s.status);
    EXPECT_EQ(r.state->data.size(), s.file.size());
    EXPECT_EQ(r.state->closes, 1);
    if (s.request.mode == RunMode::kList) {
      EXPECT_EQ(r.state->data, s.file);
      EXPECT_EQ(r.state->writes() + r.state->flushes, 0);
    }
  }
}

// Every known kind of block, with counts around zero, is stepped over by
// exactly its size: the texture after it is found and the walk ends cleanly.
TEST(Walk, StepsOverEveryKnownBlockBySize) {
  const int32_t counts[] = {-2147483647 - 1, -5, -1, 0, 1, 2, 7, 300};
  for (int32_t recordCount : counts) {
    for (int32_t itemCount : counts) {
      std::vector<uint8_t> b;
      BinWriter w(&b);
      w.prologue(recordCount).perRecord(recordCount).texture("one");
      for (uint32_t type : kCountedBlockTypes) w.counted(type, itemCount).texture("t");
      w.countedWords(itemCount).texture("two").endBlock();
      SCOPED_TRACE(testing::Message() << recordCount << " " << itemCount);
      RunOutcome r = runOnBytes(b, listRequest());
      std::string expected = "Found texture: one\n";
      for (int i = 0; i < 7; ++i) expected += "Found texture: t\n";
      EXPECT_EQ(r.output, expected + "Found texture: two\n");
      EXPECT_EQ(r.status, 0);
    }
  }
}

TEST(Walk, WholeBlockSizes) {
  // Size of each block, type word included, measured as the offset at which
  // a following unknown block is reported.
  // The block starts after the prologue and its items (20 + 12 each).
  struct Case {
    void (*fill)(BinWriter&);
    uint64_t size;
  } cases[] = {
      {[](BinWriter& w) { w.prologue(0).counted(14, 2); }, 48},
      {[](BinWriter& w) { w.prologue(0).countedWords(2); }, 32},
      {[](BinWriter& w) { w.prologue(0).counted(41, -3); }, 24},
      {[](BinWriter& w) { w.prologue(0).countedWords(0); }, 24},
      {[](BinWriter& w) { w.prologue(0).texture("a"); }, 24},
      {[](BinWriter& w) { w.prologue(-1).perRecord(-1); }, 12},
      {[](BinWriter& w) { w.prologue(1).perRecord(1); }, 12 + 24},  // one item of 12 first
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> b = binOf(c.fill);
    BinWriter(&b).word(16);
    const std::string output = runOnBytes(b, listRequest()).output;
    EXPECT_EQ(output.substr(output.find("Found unknown")), stopLine(20 + c.size, 16));
  }
}

// Files larger than the read buffer: every matching record is written once,
// whole, where it lies, and nothing else is written.
TEST(Walk, LargeFileRenameMatchesRecordByRecordResult) {
  std::vector<uint8_t> before;
  BinWriter w(&before);
  w.prologue(3);
  std::vector<size_t> renamed;
  for (int i = 0; i < 40000; ++i) {
    bool match = i % 7 == 0 || (i > 20000 && i < 20050);
    if (i % 1000 == 999) w.counted(24, 1000);  // gaps wider than a page
    if (i % 3333 == 0) w.countedWords(5000);
    if (match) renamed.push_back(static_cast<size_t>(w.offset()) + 8);
    w.texture(match ? "brick01" : "other", static_cast<uint32_t>(i));
  }
  w.endBlock();
  RunOutcome r = runOnBytes(before, renameRequest("brick01", "brick02"));
  EXPECT_EQ(r.output, "Renamed " + std::to_string(renamed.size()) + " blocks\n");
  EXPECT_EQ(r.status, 0);
  std::vector<uint8_t> expected = before;
  for (size_t at : renamed) expected[at + 6] = '2';
  EXPECT_EQ(r.state->data, expected);
  EXPECT_FALSE(r.state->writtenSinceFlush);
  ASSERT_EQ(r.state->writeLog.size(), renamed.size());
  for (size_t i = 0; i < renamed.size(); ++i) {
    EXPECT_EQ(r.state->writeLog[i].offset, renamed[i]);
    EXPECT_EQ(r.state->writeLog[i].length, kRawNameFieldSize);
  }
}

TEST(Walk, SkippedItemsAreNotRead) {
  std::vector<uint8_t> b;
  BinWriter(&b).prologue(100000).counted(51, 1000000).texture("x").countedWords(3000000)
      .texture("y").endBlock();
  RunOutcome r = runOnBytes(b, listRequest());
  EXPECT_EQ(r.output, "Found texture: x\nFound texture: y\n");
  EXPECT_LT(r.state->bytesRead, 4 * BinFile::kBufferSize);
  EXPECT_GT(b.size(), 20 * BinFile::kBufferSize);
}

// The shipped example, whose runs the end-to-end tests check, is what the
// writer makes.
TEST(Walk, ShippedExampleIsTheWritersOwn) {
  EXPECT_EQ(readFile(VELKOR_SOURCE_DIR "/examples/example.bin"), exampleBinFile());
}

}  // namespace
}  // namespace velkor
