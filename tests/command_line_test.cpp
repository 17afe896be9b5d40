#include <gtest/gtest.h>

#include <vector>

#include "cli/command_line.h"
#include "support/test_support.h"

namespace velkor {
namespace {

const char kUsage[] =
    "To view texture names, supply 1 parameter: BIN name\n"
    "To rename, supply 3 parameters: BIN name, old RAW name, new RAW name\n";

struct Parsed {
  ParsedCommandLine result;
  std::string printed;
};

Parsed parse(std::vector<const char*> args) {
  args.insert(args.begin(), "velkor");
  CapturedOutput out;
  Parsed p;
  p.result = parseCommandLine(static_cast<int>(args.size()), args.data(), out.stream());
  p.printed = out.text();
  return p;
}

TEST(CommandLine, WrongNumberOfParametersPrintsUsage) {
  const std::vector<std::vector<const char*>> cases = {
      {}, {"a.bin", "old"}, {"a.bin", "old", "new", "extra"}, {"a", "b", "c", "d", "e"}};
  for (const auto& args : cases) {
    Parsed p = parse(args);
    EXPECT_FALSE(p.result.accepted) << args.size();
    EXPECT_EQ(p.result.status, 1);
    EXPECT_EQ(p.printed, kUsage);
  }
}

TEST(CommandLine, OneParameterLists) {
  Parsed p = parse({"-x *.bin"});
  ASSERT_TRUE(p.result.accepted);
  EXPECT_EQ(p.result.request.mode, RunMode::kList);
  EXPECT_EQ(p.result.request.binPath, "-x *.bin");
  EXPECT_EQ(p.printed, "");
}

TEST(CommandLine, NewNameLengthIsCheckedBeforeAnythingElse) {
  struct Case {
    const char* newName;
    bool accepted;
  } cases[] = {
      {"", true},
      {"a", true},
      {"abcdefghijklmno", true},     // 15
      {"abcdefghijklmnop", false},   // 16
      {"abcdefghijklmnopqrstuvwxyz", false},
  };
  for (const Case& c : cases) {
    Parsed p = parse({"/no/such/file.bin", " Old Name ", c.newName});
    EXPECT_EQ(p.result.accepted, c.accepted) << c.newName;
    if (c.accepted) {
      EXPECT_EQ(p.printed, "");
      EXPECT_EQ(p.result.request.mode, RunMode::kRename);
      EXPECT_EQ(p.result.request.binPath, "/no/such/file.bin");
      EXPECT_EQ(p.result.request.oldRawName, " Old Name ");
      EXPECT_EQ(p.result.request.newRawName, c.newName);
    } else {
      EXPECT_EQ(p.printed, "New RAW name is too long.\n");
      EXPECT_EQ(p.result.status, 1);
    }
  }
}

TEST(CommandLine, LongOldNameIsAccepted) {
  Parsed p = parse({"f.bin", "a_name_much_longer_than_any_field", "x"});
  EXPECT_TRUE(p.result.accepted);
}

}  // namespace
}  // namespace velkor
