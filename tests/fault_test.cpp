// Faults injected at every operation in turn, into the in-memory file and
// into a real file opened by the platform's backend: the run must report the
// failure, and the file must be untouched or validly renamed, record by
// record, with the count telling how many.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <regex>

#include "bin_writer.h"
#include "binfile/bin_file.h"
#include "binfile/bin_layout.h"
#include "binfile/block_walk.h"
#include "test_support.h"

namespace velkor {
namespace {

struct Textures {
  std::vector<uint8_t> bytes;
  std::vector<size_t> nameFields;  // offsets of the name fields that match
};

// A file of several read buffers, with renames both side by side and far
// apart.
Textures manyTextures() {
  Textures t;
  BinWriter w(&t.bytes);
  w.prologue(2);
  for (int i = 0; i < 30000; ++i) {
    if (i % 500 == 0) w.counted(52, 600);
    bool match = i % 250 == 0 || (i >= 1000 && i < 1004);
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
// was, every name is wholly old or new, even where the system took only part
// of a write; the count printed is the number of records renamed.
void checkOutcome(const Textures& t, const RunOutcome& r) {
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
  // Each write is one whole matching record at its own offset, or the
  // repair of the part of one that the system took.
  for (size_t i = 0; i < r.state->writeLog.size(); ++i) {
    const WriteRequest& w = r.state->writeLog[i];
    const bool repair = i > 0 && r.state->writeLog[i - 1].offset == w.offset;
    EXPECT_EQ(w.length, repair ? std::min(r.state->failingWriteAccepts, kTextureRecordSize)
                               : kTextureRecordSize);
    EXPECT_NE(std::find(t.nameFields.begin(), t.nameFields.end(), w.offset + kRawNameOffset),
              t.nameFields.end())
        << "a write at " << w.offset;
  }
  EXPECT_EQ(partial, 0) << "a name is half renamed";

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

// The same runs on either kind of file.
enum class Backend { kMemory, kRealFile };

class BackendFaults : public testing::TestWithParam<Backend> {
 protected:
  RunOutcome run(const std::vector<uint8_t>& bytes, const RunRequest& request, int64_t failAt = 0,
                 size_t accepts = 0) {
    return GetParam() == Backend::kMemory ? runOnBytes(bytes, request, failAt, accepts)
                                          : runOnRealFile(bytes, request, failAt, accepts);
  }
};

INSTANTIATE_TEST_SUITE_P(Backends, BackendFaults,
                         testing::Values(Backend::kMemory, Backend::kRealFile),
                         [](const testing::TestParamInfo<Backend>& info) {
                           return info.param == Backend::kMemory ? "Memory" : "RealFile";
                         });

TEST_P(BackendFaults, RenameFailingAtEveryOperation) {
  Textures t = manyTextures();
  ASSERT_GT(t.bytes.size(), 5 * BinFile::kBufferSize);
  RunOutcome clean = run(t.bytes, renameRequest("abc", "xy"));
  ASSERT_EQ(clean.status, 0);
  checkOutcome(t, clean);
  const int64_t operations = clean.state->operations();
  ASSERT_GT(operations, 10);
  // A failing write passes on part of a record, up to the middle of the
  // new name: the record is not counted, and that part is put back.
  for (size_t accepts : {size_t{0}, size_t{1}, size_t{6}}) {
    for (int64_t n = 1; n <= operations; ++n) {
      SCOPED_TRACE(testing::Message() << "failing operation " << n << ", accepting " << accepts);
      RunOutcome r = run(t.bytes, renameRequest("abc", "xy"), n, accepts);
      EXPECT_EQ(r.status, 1);
      checkOutcome(t, r);
    }
  }
}

TEST_P(BackendFaults, ListFailingAtEveryOperationChangesNothing) {
  Textures t = manyTextures();
  RunOutcome clean = run(t.bytes, listRequest());
  ASSERT_EQ(clean.status, 0);
  for (int64_t n = 1; n <= clean.state->operations(); ++n) {
    SCOPED_TRACE(n);
    RunOutcome r = run(t.bytes, listRequest(), n);
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

// Named points of failure on a real file: the operation that fails is the
// nth of its kind in a clean run's log.
TEST(RealFileFaults, NamedPoints) {
  Textures t = manyTextures();
  const std::string renamedAll = "Renamed " + std::to_string(t.nameFields.size()) + " blocks\n";
  struct Case {
    const char* name;
    bool rename;
    char kind;     // in FaultyFile's log
    int nth;       // 1 for the first of its kind; -1 for the last
    size_t accepts;
    std::string output;  // what the output starts with
    bool untouched;
  } cases[] = {
      {"size query", true, 'z', 1, 0, "Unable to read t.bin\n", true},
      // One read fills the buffer with the version and the rest of the prologue.
      {"version and prologue", true, 'r', 1, 0, "Unable to read t.bin\n", true},
      {"version and prologue, list", false, 'r', 1, 0, "Unable to read t.bin\n", true},
      {"read in the middle", true, 'r', 3, 0, "Unable to read t.bin\nRenamed ", false},
      {"read in the middle, list", false, 'r', 3, 0, "Found texture: abc\n", true},
      {"first write refused", true, 'w', 1, 0, "Unable to write t.bin\nRenamed 0 blocks\n", true},
      {"first write cut short", true, 'w', 1, 6, "Unable to write t.bin\nRenamed 0 blocks\n",
       true},
      {"second write cut short", true, 'w', 2, 6, "Unable to write t.bin\nRenamed 1 blocks\n",
       false},
      {"last write refused", true, 'w', -1, 0, "Unable to write t.bin\nRenamed ", false},
      // After the walk, before the count of every rename.
      {"flush", true, 'f', 1, 0, "Unable to write t.bin\n" + renamedAll, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const RunRequest request = c.rename ? renameRequest("abc", "xy") : listRequest();
    RunOutcome clean = runOnRealFile(t.bytes, request);
    ASSERT_EQ(clean.status, 0);
    const std::string& kinds = clean.state->kinds;
    size_t at = c.nth > 0 ? std::string::npos : kinds.rfind(c.kind);
    for (int i = 0, from = 0; i < c.nth; ++i, from = static_cast<int>(at) + 1)
      at = kinds.find(c.kind, static_cast<size_t>(from));
    ASSERT_NE(at, std::string::npos) << kinds;
    RunOutcome r = runOnRealFile(t.bytes, request, static_cast<int64_t>(at) + 1, c.accepts);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.output.compare(0, c.output.size(), c.output), 0) << r.output.substr(0, 200);
    if (c.untouched) {
      EXPECT_TRUE(r.state->data == t.bytes);
    } else {
      EXPECT_FALSE(r.state->data == t.bytes);
    }
    if (c.rename) {
      checkOutcome(t, r);
    } else {
      EXPECT_EQ(r.output.substr(r.output.size() - 21), "Unable to read t.bin\n");
    }
  }
}

TEST(Faults, FailedFlushIsReportedAfterTheWalkBeforeTheCount) {
  std::vector<uint8_t> b;
  BinWriter(&b).prologue(0).texture("abc").word(15);
  RunOutcome clean = runOnBytes(b, renameRequest("abc", "xy"));
  ASSERT_EQ(clean.state->flushes, 1);
  // The flush is the last operation.
  RunOutcome r = runOnBytes(b, renameRequest("abc", "xy"), clean.state->operations());
  EXPECT_EQ(r.output, "Found unknown f block at 2c, leaving\nUnable to write t.bin\nRenamed 1 blocks\n");
  EXPECT_EQ(r.status, 1);
}

// The read-ahead goes past the end block; a read that fails there, after
// giving every byte the walk needs, does not fail the run.
TEST(Faults, ReadErrorPastWhatTheWalkNeeds) {
  std::vector<uint8_t> b;
  BinWriter(&b).prologue(0).texture("abc").endBlock().word(7).word(7);
  // The read that fails is the first, which asks for the whole file; the
  // walk asks again only for bytes it needs and did not get.
  const size_t walked = b.size() - 8;
  struct Row {
    size_t kept;  // bytes the failing read gave before its error
    const char* output;
    int status;
  } rows[] = {
      {b.size() - 1, "Found texture: abc\n", 0},
      {walked, "Found texture: abc\n", 0},
      // Short of the end block: the walk reads again from there.
      {walked - 1, "Found texture: abc\n", 0},
      // Short of the prologue.
      {kBinPrologueSize - 1, "Unable to read t.bin\n", 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.kept);
    auto state = std::make_shared<FileState>();
    state->data = b;
    state->failAt = 2;  // the read after the size query
    state->failingReadKeeps = row.kept;
    CapturedOutput out;
    EXPECT_EQ(runTool(listRequest(), faultyMemoryFile(state), out.stream()), row.status);
    EXPECT_EQ(out.text(), row.output);
  }
}

TEST(Faults, NoFlushWhenNothingWasRenamed) {
  std::vector<uint8_t> b;
  BinWriter(&b).prologue(0).texture("abc").endBlock();
  EXPECT_EQ(runOnBytes(b, renameRequest("zzz", "xy")).state->flushes, 0);
}

}  // namespace
}  // namespace velkor
