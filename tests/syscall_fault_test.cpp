// The POSIX backend against a system that fails it: the built program runs
// under strace, which makes one system call on the BIN file fail (or, for a
// write, take fewer bytes than asked), and the test compares the output
// bytes, the exit status and the file's bytes afterwards.
//
// strace's -P keeps the count of calls to the BIN file alone: the dynamic
// loader's opens and reads are neither counted nor failed. Which call a row
// fails is found in a trace of the same run without a fault, so that a
// change elsewhere in the run (one call more or less) never moves it. Where
// strace is missing or may not trace (not Linux, ptrace forbidden), the
// test is skipped.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace velkor {
namespace {

// Why strace cannot be used here, or "" if it can.
std::string straceUnusable() {
#ifndef __linux__
  return "system call fault injection needs Linux";
#else
  if (std::system("command -v strace >/dev/null 2>&1") != 0) return "strace is not installed";
  if (std::system("strace -o /dev/null true >/dev/null 2>&1") != 0) {
    return "strace cannot trace here (ptrace not permitted?)";
  }
  return "";
#endif
}

// The textures of the test file, in file order. The counted block between
// the first three and the rest is larger than the read buffer (128 KiB), so
// that the walk reads the file twice: the second read, and the third write
// of a rename, are the first ones past it.
struct TestFile {
  std::vector<uint8_t> bytes;
  std::vector<size_t> matchNames;  // offsets of the name fields of "abc"
};

TestFile makeTestFile() {
  TestFile f;
  BinWriter w(&f.bytes);
  auto texture = [&](const char* name) {
    // The name field follows the type word and the lead word.
    if (std::strcmp(name, "abc") == 0) f.matchNames.push_back(w.offset() + 8);
    w.texture(name);
  };
  w.prologue(0);
  texture("abc");
  texture("wall");
  texture("abc");
  w.counted(41, 12000);  // 144,024 bytes
  texture("abc");
  texture("abc");
  texture("door");
  texture("abc");
  w.endBlock();
  w.finish();
  return f;
}

const char kListing[] =
    "Found texture: abc\nFound texture: wall\nFound texture: abc\n"
    "Found texture: abc\nFound texture: abc\nFound texture: door\nFound texture: abc\n";
const char kListingBeforeSecondRead[] =
    "Found texture: abc\nFound texture: wall\nFound texture: abc\n";
constexpr int kAll = INT_MAX;

struct Row {
  const char* name;
  const char* call;    // as strace names it: a system call or a class
  const char* inject;  // error=ERRNO or retval=N
  int when;            // which of the calls that `which` picks fails, from 1; -1: the last
  bool rename;         // rename "abc" to "stone", or list
  std::string out;     // FILE stands for the path
  int status;
  int renamed;  // how many of the "abc" records hold the new name afterwards
  const char* which = "";  // a pattern for the call's line in the trace ("": any)
};

// The tool under strace on `bin`, tracing `call` on it alone; extra holds
// further strace options. Returns the wait status.
int runTraced(const std::string& bin, const Row& row, const std::string& extra,
              const std::string& dir) {
  // A sanitized build's leak check cannot run under ptrace: it is left
  // off there, and the rest of the sanitizers stay on.
  std::string cmd = "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" "
                    "strace -f -qq -P " + shellQuote(bin) + " -e trace=" + row.call + " " + extra +
                    " " + shellQuote(VELKOR_BINARY) + " " + shellQuote(bin);
  if (row.rename) cmd += " abc stone";
  cmd += " >" + shellQuote(dir + "/out") + " 2>" + shellQuote(dir + "/err") + " </dev/null";
  return std::system(cmd.c_str());
}

// The position, among the calls in `trace`, of the row's call; 0 if the
// run makes no such call.
int positionInTrace(const std::string& trace, const Row& row) {
  static const std::regex kCallLine("^(\\d+ +)?[a-z0-9_]+\\(");
  const std::regex which(row.which);
  std::vector<int> picked;
  std::istringstream lines(trace);
  int calls = 0;
  for (std::string line; std::getline(lines, line);) {
    if (!std::regex_search(line, kCallLine)) continue;  // signals, resumed calls
    ++calls;
    if (std::regex_search(line, which)) picked.push_back(calls);
  }
  if (row.when == -1) return picked.empty() ? 0 : picked.back();
  return row.when >= 1 && row.when <= static_cast<int>(picked.size()) ? picked[row.when - 1] : 0;
}

TEST(SyscallFault, ToolAnswersEveryFailedCall) {
  const std::string unusable = straceUnusable();
  if (!unusable.empty()) GTEST_SKIP() << unusable;

  // strace -P matches descriptors by their resolved path: the scratch
  // folder's is canonical.
  const ScratchDir scratch;
  const std::string dir = scratch.path();
  const std::string bin = dir + "/a.bin";
  const TestFile file = makeTestFile();

  const std::vector<Row> rows = {
      {"open fails", "openat", "error=EIO", 1, false, "Unable to open FILE\n", 1, 0},
      {"open interrupted", "openat", "error=EINTR", 1, true, "Renamed 5 blocks\n", 0, kAll},
      // %fstat: whichever fstat the C library calls (newfstatat, fstat, ...);
      // the size is asked last.
      {"size query fails", "%fstat", "error=EIO", -1, false, "Unable to read FILE\n", 1, 0},
      {"flock held by another", "flock", "error=EAGAIN", 1, true, "Unable to open FILE\n", 1, 0},
      {"flock unsupported", "flock", "error=ENOLCK", 1, true, "Renamed 5 blocks\n", 0, kAll},
      {"record lock held by another", "fcntl", "error=EACCES", 1, true, "Unable to open FILE\n", 1,
       0, "SETLK"},
      {"record lock unsupported", "fcntl", "error=EINVAL", 1, true, "Renamed 5 blocks\n", 0, kAll,
       "SETLK"},
      {"later read interrupted", "pread64", "error=EINTR", 2, false, kListing, 0, 0},
      {"prologue read fails", "pread64", "error=EIO", 1, true, "Unable to read FILE\n", 1, 0},
      {"later read fails, list", "pread64", "error=EIO", 2, false,
       std::string(kListingBeforeSecondRead) + "Unable to read FILE\n", 1, 0},
      {"later read fails, rename", "pread64", "error=EIO", 2, true,
       "Unable to read FILE\nRenamed 2 blocks\n", 1, 2},
      {"later write finds the disk full", "pwrite64", "error=ENOSPC", 3, true,
       "Unable to write FILE\nRenamed 2 blocks\n", 1, 2},
      {"later write interrupted", "pwrite64", "error=EINTR", 3, true, "Renamed 5 blocks\n", 0,
       kAll},
      {"later write cut short", "pwrite64", "retval=10", 3, true,
       "Unable to write FILE\nRenamed 2 blocks\n", 1, 2},
      {"flush fails", "fdatasync", "error=EIO", 1, true, "Unable to write FILE\nRenamed 5 blocks\n",
       1, kAll},
      {"flush interrupted", "fdatasync", "error=EINTR", 1, true, "Renamed 5 blocks\n", 0, kAll},
      {"close fails after the flush", "close", "error=EIO", 1, true, "Renamed 5 blocks\n", 0, kAll},
  };

  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.name << ": " << row.call << " " << row.when
                                    << " of /" << row.which << "/, " << row.inject);
    // The same run without a fault, traced, says where the call lies.
    writeFile(bin, file.bytes);
    const std::string trace = dir + "/trace";
    ASSERT_EQ(runTraced(bin, row, "-o " + shellQuote(trace), dir), 0);
    const int when = positionInTrace(readText(trace), row);
    ASSERT_GT(when, 0) << "the run makes no such call:\n" << readText(trace);

    writeFile(bin, file.bytes);
    const std::string inject =
        std::string(row.call) + ":" + row.inject + ":when=" + std::to_string(when);
    const int w = runTraced(bin, row, "-o /dev/null -e inject=" + inject, dir);
    const int status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;

    std::string expectedOut = row.out;
    for (size_t at = 0; (at = expectedOut.find("FILE", at)) != std::string::npos;
         at += bin.size()) {
      expectedOut.replace(at, 4, bin);
    }
    // Nothing on standard error: neither from the tool nor from strace, whose
    // complaints about its own arguments would land there.
    EXPECT_EQ(readText(dir + "/err"), "");
    EXPECT_EQ(readText(dir + "/out"), expectedOut);
    EXPECT_EQ(status, row.status);

    std::vector<uint8_t> expected = file.bytes;
    for (size_t i = 0; i < file.matchNames.size() && static_cast<int>(i) < row.renamed; ++i) {
      std::memcpy(&expected[file.matchNames[i]], "stone", 6);
    }
    EXPECT_TRUE(readFile(bin) == expected) << "the file's bytes afterwards differ";
  }
}

}  // namespace
}  // namespace velkor
