#include <gtest/gtest.h>

#include <vector>

#include "cli/command_line.h"
#include "support/test_support.h"

namespace velkor {
namespace {

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

// One parameter lists, three rename; the new name's length is checked
// before anything else, the old name's never.
TEST(CommandLine, AcceptedParametersAndTheNewNameLength) {
  struct Case {
    std::vector<const char*> args;
    bool accepted;
  } cases[] = {
      {{"-x *.bin"}, true},
      {{"/no/such/file.bin", " Old Name ", ""}, true},
      {{"/no/such/file.bin", " Old Name ", "a"}, true},
      {{"/no/such/file.bin", " Old Name ", "abcdefghijklmno"}, true},  // 15
      {{"/no/such/file.bin", " Old Name ", "abcdefghijklmnop"}, false},  // 16
      {{"/no/such/file.bin", " Old Name ", "abcdefghijklmnopqrstuvwxyz"}, false},
      {{"f.bin", "a_name_much_longer_than_any_field", "x"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    Parsed p = parse(c.args);
    EXPECT_EQ(p.result.accepted, c.accepted);
    if (c.accepted) {
      EXPECT_EQ(p.printed, "");
      EXPECT_EQ(p.result.request.mode, c.args.size() == 1 ? RunMode::kList : RunMode::kRename);
      EXPECT_EQ(p.result.request.binPath, c.args[0]);
      if (c.args.size() == 3) {
        EXPECT_EQ(p.result.request.oldRawName, c.args[1]);
        EXPECT_EQ(p.result.request.newRawName, c.args[2]);
      }
    } else {
      EXPECT_EQ(p.printed, "New RAW name is too long.\n");
      EXPECT_EQ(p.result.status, 1);
    }
  }
}

}  // namespace
}  // namespace velkor
