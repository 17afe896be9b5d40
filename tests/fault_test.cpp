// Faults injected into the in-memory file at every operation in turn: the
// run must report the failure, and the file must be untouched or validly
// renamed, record by record, with the count telling how many.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>

#include "bin_writer.h"
#include "binfile/bin_file.h"
#include "test_support.h"

namespace velkor {
namespace {

struct Textures {
  std::vector<uint8_t> bytes;
  std::vector<size_t> nameFields;  // offsets of the name fields that match
};

// A file of several read buffers, with renames both close together and far
// apart.
Textures manyTextures() {
  Textures t;
  BinWriter w(&t.bytes);
  w.prologue(2);
  for (int i = 0; i < 30000; ++i) {
    if (i % 500 == 0) w.counted(52, 600);
    bool match = i % 5 == 0;
    if (match) t.nameFields.push_back(static_cast<size_t>(w.offset()) + 8);
    w.texture(match ? "abc" : "keep", static_cast<uint32_t>(i), 0x77);
  }
  w.endBlock();
  return t;
}

enum class RecordState { kOriginal, kRenamed, kPartial };

RecordState stateOf(const std::vector<uint8_t>& data, size_t at) {
  if (std::memcmp(&data[at], "abc\0", 4) == 0) return RecordState::kOriginal;
  if (std::memcmp(&data[at], "xy\0", 3) == 0 && data[at + 3] == 0) return RecordState::kRenamed;
  return RecordState::kPartial;
}

// Checks one faulty run: every byte outside the matching name fields is as it
// was; the count printed is the number of records fully renamed.
void checkOutcome(const Textures& t, const RunOutcome& r, bool partialWritesPossible) {
  ASSERT_EQ(r.state->data.size(), t.bytes.size());
  ASSERT_EQ(r.state->closes, 1);
  std::vector<uint8_t> masked = r.state->data, original = t.bytes;
  int64_t renamed = 0, partial = 0;
  for (size_t at : t.nameFields) {
    RecordState s = stateOf(r.state->data, at);
    renamed += s == RecordState::kRenamed;
    partial += s == RecordState::kPartial;
    std::memset(&masked[at], 0, 4);
    std::memset(&original[at], 0, 4);
  }
  ASSERT_TRUE(masked == original) << "bytes outside the renamed names changed";
  if (!partialWritesPossible) {
    EXPECT_EQ(partial, 0);
  }
  EXPECT_LE(partial, 1);

  static const std::regex kLines(
      "((Unable to (read|write) t\\.bin\\n)|(Found incomplete block at [0-9a-f]+, leaving\\n))?"
      "(Unable to write t\\.bin\\n)?(Renamed (\\d+) blocks\\n)?");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(r.output, m, kLines)) << r.output;
  if (m[6].matched) {
    EXPECT_EQ(std::stoll(m[7].str()), renamed) << r.output;
  } else {
    EXPECT_EQ(renamed, 0) << r.output;  // the walk never began: nothing written
  }
  if (r.status == 0) {
    EXPECT_EQ(r.output, "Renamed " + std::to_string(t.nameFields.size()) + " blocks\n");
    EXPECT_FALSE(r.state->writtenSinceFlush) << "reported without flushing";
  } else {
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("Unable to"), std::string::npos) << r.output;
  }
}

TEST(Faults, RenameFailingAtEveryOperation) {
  Textures t = manyTextures();
  ASSERT_GT(t.bytes.size(), 5 * BinFile::kBufferSize);
  RunOutcome clean = runOnBytes(t.bytes, renameRequest("abc", "xy"));
  ASSERT_EQ(clean.status, 0);
  const int64_t operations = clean.state->operations;
  ASSERT_GT(operations, 10);
  for (size_t accepts : {size_t{0}, size_t{1}, size_t{30}, size_t{1000}}) {
    for (int64_t n = 1; n <= operations; ++n) {
      SCOPED_TRACE(testing::Message() << "failing operation " << n << ", accepting " << accepts);
      RunOutcome r = runOnBytes(t.bytes, renameRequest("abc", "xy"), n, accepts);
      EXPECT_EQ(r.status, 1);
      checkOutcome(t, r, accepts > 0);
    }
  }
}

TEST(Faults, ListFailingAtEveryOperationChangesNothing) {
  Textures t = manyTextures();
  RunOutcome clean = runOnBytes(t.bytes, listRequest());
  ASSERT_EQ(clean.status, 0);
  for (int64_t n = 1; n <= clean.state->operations; ++n) {
    SCOPED_TRACE(n);
    RunOutcome r = runOnBytes(t.bytes, listRequest(), n);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.state->data, t.bytes);
    EXPECT_EQ(r.state->closes, 1);
    // What was listed before the failure is a prefix of the full listing.
    size_t cut = r.output.rfind("Unable to read t.bin\n");
    ASSERT_NE(cut, std::string::npos) << r.output.substr(r.output.size() > 200 ? r.output.size() - 200 : 0);
    EXPECT_EQ(cut + std::strlen("Unable to read t.bin\n"), r.output.size());
    EXPECT_EQ(clean.output.compare(0, cut, r.output, 0, cut), 0);
  }
}

TEST(Faults, FailedFlushIsReportedAfterTheWalkBeforeTheCount) {
  std::vector<uint8_t> b;
  BinWriter(&b).prologue(0).texture("abc").word(15);
  RunOutcome clean = runOnBytes(b, renameRequest("abc", "xy"));
  ASSERT_EQ(clean.state->flushes, 1);
  // The flush is the last operation.
  RunOutcome r = runOnBytes(b, renameRequest("abc", "xy"), clean.state->operations);
  EXPECT_EQ(r.output, "Found unknown f block at 2c, leaving\nUnable to write t.bin\nRenamed 1 blocks\n");
  EXPECT_EQ(r.status, 1);
}

TEST(Faults, NoFlushWhenNothingWasRenamed) {
  std::vector<uint8_t> b;
  BinWriter(&b).prologue(0).texture("abc").endBlock();
  EXPECT_EQ(runOnBytes(b, renameRequest("zzz", "xy")).state->flushes, 0);
}

}  // namespace
}  // namespace velkor
