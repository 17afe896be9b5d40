// Faults injected at every operation in turn, into the in-memory file and
// into a real file opened by the platform's backend: the run must report the
// failure, and the file must be untouched or validly renamed, record by
// record, with the count telling how many (the properties of checkRun).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bin_writer.h"
#include "binfile/bin_file.h"
#include "binfile/bin_layout.h"
#include "binfile/block_walk.h"
#include "support/test_support.h"
#include "walk_check.h"

namespace velkor {
namespace {

// A file of several read buffers, with renames of "abc" both side by side
// and far apart.
std::vector<uint8_t> manyTextures() {
  std::vector<uint8_t> bytes;
  BinWriter w(&bytes);
  w.prologue(2);
  for (int i = 0; i < 30000; ++i) {
    if (i % 500 == 0) w.counted(52, 600);
    const bool match = i % 250 == 0 || (i >= 1000 && i < 1004);
    w.texture(match ? "abc" : "keep", static_cast<uint32_t>(i), 0x77);
  }
  w.endBlock();
  return bytes;
}

FuzzCase renameCase(const std::vector<uint8_t>& file, const char* oldName, int64_t failAt = 0,
                    size_t accepts = 0, size_t repairAccepts = 0) {
  return FuzzCase{oldName, "xy", {failAt, accepts, 0, 0, 0, repairAccepts}, file};
}

class BackendFaults : public testing::TestWithParam<RunOnFile> {};

INSTANTIATE_TEST_SUITE_P(Backends, BackendFaults, testing::Values(runOnBytes, runOnRealFile),
                         [](const testing::TestParamInfo<RunOnFile>& info) {
                           return info.param == runOnBytes ? "Memory" : "RealFile";
                         });

// A failing write passes on part of a record, up to the middle of the new
// name: the record is not counted, and that part is put back as it was.
TEST_P(BackendFaults, ListAndRenameFailingAtEveryOperation) {
  const std::vector<uint8_t> file = manyTextures();
  ASSERT_GT(file.size(), 5 * BinFile::kBufferSize);
  RunOutcome clean = GetParam()(file, renameRequest("abc", "xy"), {});
  ASSERT_EQ(clean.output, "Renamed 123 blocks\n");
  const int64_t operations = clean.state->operations();
  ASSERT_GT(operations, 10);
  EXPECT_EQ(checkRun(renameCase(file, "abc"), GetParam()), "");
  for (size_t accepts : {size_t{0}, size_t{1}, size_t{6}}) {
    for (int64_t n = 1; n <= operations; ++n) {
      SCOPED_TRACE(testing::Message() << "failing operation " << n << ", accepting " << accepts);
      // A list never writes: it fails the same way whatever a write accepts.
      EXPECT_EQ(checkRun(renameCase(file, "abc", n, accepts), GetParam(), accepts == 0), "");
    }
  }
}

// Named points of failure on a real file: the operation that fails is the
// nth of its kind in a clean run's log.
TEST(RealFileFaults, NamedPoints) {
  const std::vector<uint8_t> many = manyTextures();
  const std::vector<uint8_t> thenUnknown =
      binOf([](BinWriter& w) { w.prologue(0).texture("abc").word(15); });
  const std::string renamedAll = "Renamed 123 blocks\n";
  struct Case {
    const char* name;
    const std::vector<uint8_t>& file;
    const char* oldName;  // renamed to "xy"; nullptr: listed
    char kind;            // in FaultyFile's log; 0: nothing fails
    int nth;              // 1 for the first of its kind; -1 for the last
    size_t accepts;
    std::string output;  // what the output starts with
    bool untouched;
    int64_t flushes;
    size_t repairAccepts = 0;  // the repair of the failing write is cut short too
  } cases[] = {
      {"size query", many, "abc", 'z', 1, 0, "Unable to read t.bin\n", true, 0},
      // One read fills the buffer with the version and the rest of the prologue.
      {"version and prologue", many, "abc", 'r', 1, 0, "Unable to read t.bin\n", true, 0},
      {"version and prologue, list", many, nullptr, 'r', 1, 0, "Unable to read t.bin\n", true, 0},
      {"read in the middle", many, "abc", 'r', 3, 0, "Unable to read t.bin\nRenamed ", false, 1},
      {"read in the middle, list", many, nullptr, 'r', 3, 0, "Found texture: abc\n", true, 0},
      {"first write refused", many, "abc", 'w', 1, 0, "Unable to write t.bin\nRenamed 0 blocks\n",
       true, 0},
      // What a write cut short did pass on is put back, and flushed all the
      // same.
      {"first write cut short", many, "abc", 'w', 1, 6,
       "Unable to write t.bin\nRenamed 0 blocks\n", true, 1},
      {"second write cut short", many, "abc", 'w', 2, 6,
       "Unable to write t.bin\nRenamed 1 blocks\n", false, 1},
      {"second write cut short, and its repair", many, "abc", 'w', 2, 6,
       "Unable to write t.bin\nRenamed 1 blocks\n", false, 1, 1},
      {"last write refused", many, "abc", 'w', -1, 0, "Unable to write t.bin\nRenamed ", false, 1},
      // After the walk and its own message, before the count of every rename.
      {"flush", many, "abc", 'f', 1, 0, "Unable to write t.bin\n" + renamedAll, false, 1},
      {"flush after an unknown block", thenUnknown, "abc", 'f', 1, 0,
       "Found unknown f block at 2c, leaving\nUnable to write t.bin\nRenamed 1 blocks\n", false, 1},
      {"nothing renamed, nothing flushed", many, "zzz", 0, 0, 0, "Renamed 0 blocks\n", true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const RunRequest request = c.oldName ? renameRequest(c.oldName, "xy") : listRequest();
    RunOutcome clean = runOnRealFile(c.file, request);
    ASSERT_EQ(clean.status, 0);
    const std::string& kinds = clean.state->kinds;
    // The nth: each search starts past the last (npos + 1 is 0).
    size_t at = c.nth > 0 ? std::string::npos : kinds.rfind(c.kind);
    for (int i = 0; i < c.nth && (i == 0 || at != std::string::npos); ++i) at = kinds.find(c.kind, at + 1);
    ASSERT_TRUE(c.kind == 0 || at != std::string::npos) << "the clean run has no such operation: " << kinds;
    const int64_t failAt = c.kind == 0 ? 0 : static_cast<int64_t>(at) + 1;
    RunOutcome r = runOnRealFile(c.file, request, {failAt, c.accepts, 0, 0, 0, c.repairAccepts});
    EXPECT_EQ(r.status, c.kind == 0 ? 0 : 1);
    EXPECT_EQ(r.output.compare(0, c.output.size(), c.output), 0) << r.output.substr(0, 200);
    EXPECT_EQ(r.state->data == c.file, c.untouched);
    EXPECT_EQ(r.state->flushes, c.flushes);
    EXPECT_EQ(checkRun(renameCase(c.file, c.oldName ? c.oldName : "abc", failAt, c.accepts,
                                  c.repairAccepts),
                       runOnRealFile),
              "");
  }
}

}  // namespace
}  // namespace velkor
