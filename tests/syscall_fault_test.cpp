// The POSIX backend against a system that fails it: the built program runs
// under strace, which makes one system call on the BIN file fail (or, for a
// write, take fewer bytes than asked), and the test compares the output
// bytes, the exit status and the file's bytes afterwards.
//
// strace's -P keeps the count of calls to the BIN file alone: the dynamic
// loader's opens and reads are neither counted nor failed. Where strace is
// missing or may not trace (not Linux, ptrace forbidden), the test is
// skipped.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bin_writer.h"

namespace velkor {
namespace {

std::string shellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

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
  int when;            // which call on the file fails, from 1
  bool rename;         // rename "abc" to "stone", or list
  std::string out;     // FILE stands for the path
  int status;
  int renamed;  // how many of the "abc" records hold the new name afterwards
};

TEST(SyscallFault, ToolAnswersEveryFailedCall) {
  const std::string unusable = straceUnusable();
  if (!unusable.empty()) GTEST_SKIP() << unusable;

  char tmpl[] = "/tmp/velkor-sys-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  struct RemovedAtEnd {
    std::string dir;
    ~RemovedAtEnd() {
      if (std::system(("rm -rf " + shellQuote(dir)).c_str()) != 0) {
        ADD_FAILURE() << "could not remove " << dir;
      }
    }
  } scratch{tmpl};
  // strace -P matches descriptors by their resolved path: give it, and the
  // tool, the canonical one.
  char* real = realpath(tmpl, nullptr);
  ASSERT_NE(real, nullptr);
  const std::string dir = real;
  std::free(real);
  const std::string bin = dir + "/a.bin";
  const TestFile file = makeTestFile();

  // fcntl on the file: F_GETFL, F_SETFL, then the record lock (3).
  const std::vector<Row> rows = {
      {"open fails", "openat", "error=EIO", 1, false, "Unable to open FILE\n", 1, 0},
      {"open interrupted", "openat", "error=EINTR", 1, true, "Renamed 5 blocks\n", 0, kAll},
      // %fstat: whichever fstat the C library calls (newfstatat, fstat, ...):
      // the check of standard output against the path, then the open's check of
      // the file type, then the size.
      {"size query fails", "%fstat", "error=EIO", 3, false, "Unable to read FILE\n", 1, 0},
      {"flock held by another", "flock", "error=EAGAIN", 1, true, "Unable to open FILE\n", 1, 0},
      {"flock unsupported", "flock", "error=ENOLCK", 1, true, "Renamed 5 blocks\n", 0, kAll},
      {"record lock held by another", "fcntl", "error=EACCES", 3, true, "Unable to open FILE\n", 1,
       0},
      {"record lock unsupported", "fcntl", "error=EINVAL", 3, true, "Renamed 5 blocks\n", 0, kAll},
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
    SCOPED_TRACE(testing::Message()
                 << row.name << ": " << row.call << ":" << row.inject << ":when=" << row.when);
    {
      std::ofstream out(bin, std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(file.bytes.data()),
                static_cast<std::streamsize>(file.bytes.size()));
      ASSERT_TRUE(out.good());
    }
    const std::string inject =
        std::string(row.call) + ":" + row.inject + ":when=" + std::to_string(row.when);
    // A sanitized build's leak check cannot run under ptrace: it is left
    // off there, and the rest of the sanitizers stay on.
    std::string cmd = "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" "
                      "strace -f -qq -o /dev/null -P " + shellQuote(bin) + " -e trace=" + row.call +
                      " -e inject=" + inject + " " + shellQuote(VELKOR_BINARY) + " " +
                      shellQuote(bin);
    if (row.rename) cmd += " abc stone";
    cmd += " >" + shellQuote(dir + "/out") + " 2>" + shellQuote(dir + "/err") + " </dev/null";
    const int w = std::system(cmd.c_str());
    const int status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;

    std::string expectedOut = row.out;
    for (size_t at = 0; (at = expectedOut.find("FILE", at)) != std::string::npos;
         at += bin.size()) {
      expectedOut.replace(at, 4, bin);
    }
    // Nothing on standard error: neither from the tool nor from strace, whose
    // complaints about its own arguments would land there.
    EXPECT_EQ(readFile(dir + "/err"), "");
    EXPECT_EQ(readFile(dir + "/out"), expectedOut);
    EXPECT_EQ(status, row.status);

    std::vector<uint8_t> expected = file.bytes;
    for (size_t i = 0; i < file.matchNames.size() && static_cast<int>(i) < row.renamed; ++i) {
      std::memcpy(&expected[file.matchNames[i]], "stone", 6);
    }
    const std::string after = readFile(bin);
    EXPECT_TRUE(after == std::string(expected.begin(), expected.end()))
        << "the file's bytes afterwards differ";
  }
}

}  // namespace
}  // namespace velkor
