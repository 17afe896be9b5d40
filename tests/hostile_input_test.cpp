// Files made to hurt: counts far beyond the file, files cut at every length,
// and the fuzzing seeds and findings replayed through the fuzz target's
// property check.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "bin_writer.h"
#include "support/test_support.h"
#include "walk_check.h"

namespace velkor {
namespace {

// Counts that no small file can hold end the run at once; a count whose
// bytes would wrap around in 32 bits must not be taken for a small one;
// negative counts mean no items.
TEST(HostileInput, CountsBeyondTheFile) {
  const std::string notValid = "t.bin is not a valid BIN file\n";
  struct Case {
    const char* name;
    uint32_t recordCount;
    uint32_t type;   // of the counted block after the first texture
    uint32_t count;  // its count word
    std::string output;
    int status;
  };
  std::vector<Case> cases = {
      {"recordCount 2^31-1", 0x7fffffff, 14, 0, notValid, 1},
      {"recordCount whose items wrap to 8 bytes in 32 bits", 0x15555556, 14, 0, notValid, 1},
      {"recordCount -1", 0xffffffff, 14, 0, "Found texture: a\nFound texture: b\n", 0},
      {"recordCount -2^31", 0x80000000, 14, 0, "Found texture: a\nFound texture: b\n", 0},
      {"words wrapping to 4 bytes in 32 bits", 0, 25, 0x40000001, "Found texture: a\n" + stopLine(44), 1},
      {"words 2^31-1", 0, 25, 0x7fffffff, "Found texture: a\n" + stopLine(44), 1},
      {"words -1", 0, 25, 0xffffffff, "Found texture: a\nFound texture: b\n", 0},
  };
  for (uint32_t type : kCountedBlockTypes) {
    cases.push_back({"", 0, type, 0x7fffffff, "Found texture: a\n" + stopLine(44), 1});
    cases.push_back({"", 0, type, 0x15555556, "Found texture: a\n" + stopLine(44), 1});
    cases.push_back({"", 0, type, 0x80000000, "Found texture: a\nFound texture: b\n", 0});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name << " type " << c.type << " count " << c.count);
    std::vector<uint8_t> file;
    BinWriter w(&file);
    // The counted block's head alone: no items after it.
    w.word(20).word(0).word(0).word(0).word(c.recordCount).texture("a");
    w.word(c.type).word(c.count).word(1).word(2).word(3).word(4).texture("b").endBlock();
    for (const RunRequest& request : {listRequest(), renameRequest("a", "z")}) {
      RunOutcome r = runOnBytes(file, request);
      // Only the report differs: the first texture is renamed if reached.
      EXPECT_EQ(r.output, request.mode == RunMode::kList ? c.output
                          : std::regex_replace(c.output, std::regex("Found texture: .*\n"), "") +
                                (c.output == notValid ? "" : "Renamed 1 blocks\n"));
      EXPECT_EQ(r.status, c.status);
      EXPECT_EQ(r.state->data.size(), file.size());
      // The file is read once, in one piece, and the walk ends there: no
      // read or move is made for the items that are not in it.
      EXPECT_LE(r.state->bytesRead, file.size());
      EXPECT_LE(r.state->operations(), 8);
    }
  }
}

// One file with every kind of block, cut at every length from empty to
// whole, held to the properties of every run (walk_check.h): each cut gives
// the message its length calls for, lists the textures wholly before the
// cut, and renames exactly those.
TEST(HostileInput, FileCutAtEveryLength) {
  std::vector<uint8_t> whole;
  BinWriter w(&whole);
  w.prologue(2).texture("t").perRecord(2).texture("other");
  for (uint32_t type : kCountedBlockTypes) w.counted(type, 2).texture("t");
  w.countedWords(3).counted(41, -1).texture("abcdefghijklmnop").texture("t").endBlock();
  for (size_t length = 0; length <= whole.size(); ++length)
    EXPECT_EQ(checkRun({"t", "new", {}, {whole.begin(), whole.begin() + length}}, runOnBytes), "") << length;
}

// The seeds and every input the fuzzer once failed on keep passing the
// fuzz target's property check, in every build.
TEST(HostileInput, FuzzSeedsAndFindingsKeepTheirProperties) {
  const std::filesystem::path fuzzDir = std::filesystem::path(VELKOR_SOURCE_DIR) / "fuzz";
  std::vector<std::filesystem::path> inputs;
  for (const char* folder : {"corpus", "findings"})
    for (const auto& entry : std::filesystem::directory_iterator(fuzzDir / folder)) inputs.push_back(entry.path());
  ASSERT_GE(inputs.size(), 30u) << "seed inputs missing from " << fuzzDir;
  for (const auto& input : inputs) {
    SCOPED_TRACE(input.string());
    const std::vector<uint8_t> bytes = readFile(input.string());
    FuzzCase decoded;
    ASSERT_TRUE(decodeFuzzCase(bytes.data(), bytes.size(), &decoded));
    EXPECT_EQ(checkWalkProperties(bytes.data(), bytes.size()), "");
  }
}

}  // namespace
}  // namespace velkor
