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
  EXPECT_EQ(checkRun({"abc", "xy", {}, file}, GetParam()), "");
  for (size_t accepts : {size_t{0}, size_t{1}, size_t{6}}) {
    for (int64_t n = 1; n <= operations; ++n) {
      SCOPED_TRACE(testing::Message() << "failing operation " << n << ", accepting " << accepts);
      // A list never writes: it fails the same way whatever a write accepts.
      EXPECT_EQ(checkRun({"abc", "xy", {n, accepts}, file}, GetParam(), accepts == 0), "");
    }
  }
}

}  // namespace
}  // namespace velkor
