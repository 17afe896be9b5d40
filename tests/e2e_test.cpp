// End-to-end: the built program run as a user runs it, comparing exact
// output bytes, exit status and the file's bytes afterwards.
//
// VELKOR_COMMAND   the command that runs the tool, its words quoted for sh
//                  (default: the native build); for instance
//                  "'wine' '/path/to/velkor.exe'"
// VELKOR_CRLF=1    the program ends its lines with CR LF: compare them as LF
// VELKOR_NATIVE=0  the program is not a native POSIX one: cases that depend
//                  on POSIX files (FIFOs, flock) are skipped
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace velkor {
namespace {

std::string envOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? v : fallback;
}

bool nativeProgram() { return envOr("VELKOR_NATIVE", "1") == "1"; }

std::string toolCommand() { return envOr("VELKOR_COMMAND", shellQuote(VELKOR_BINARY)); }

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

class EndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    scratch_ = std::make_unique<ScratchDir>();
    dir_ = scratch_->path();
  }
  void TearDown() override { scratch_.reset(); }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  // Runs the tool in the scratch folder, so that names are given as typed.
  Result run(const std::vector<std::string>& args) {
    std::string cmd = "cd " + shellQuote(dir_) + " && " + toolCommand();
    for (const std::string& a : args) cmd += " " + shellQuote(a);
    cmd += " >" + shellQuote(path(".stdout")) + " 2>" + shellQuote(path(".stderr")) + " </dev/null";
    Result r;
    int w = std::system(cmd.c_str());
    r.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
    std::vector<uint8_t> out = readFile(path(".stdout"));
    r.out.assign(out.begin(), out.end());
    std::vector<uint8_t> err = readFile(path(".stderr"));
    r.err.assign(err.begin(), err.end());
    std::remove(path(".stdout").c_str());
    std::remove(path(".stderr").c_str());
    if (envOr("VELKOR_CRLF", "0") == "1") {
      std::string lf;
      for (size_t i = 0; i < r.out.size(); ++i) {
        if (r.out[i] == '\r' && i + 1 < r.out.size() && r.out[i + 1] == '\n') continue;
        lf += r.out[i];
      }
      r.out = lf;
    }
    return r;
  }

  std::unique_ptr<ScratchDir> scratch_;
  std::string dir_;
};

const char kUsage[] =
    "To view texture names, supply 1 parameter: BIN name\n"
    "To rename, supply 3 parameters: BIN name, old RAW name, new RAW name\n";

// Cases that need one file, a.bin, and compare output, status and the file.
struct Case {
  const char* name;
  std::vector<uint8_t> file;
  std::vector<std::string> args;
  std::string out;
  int status;
  std::vector<std::pair<size_t, std::string>> patches;  // expected changes to a.bin
};

std::vector<Case> cases() {
  std::vector<uint8_t> example = exampleBinFile();
  std::vector<uint8_t> texturesThenUnknown =
      binOf([](BinWriter& w) { w.prologue(0).texture("wall").texture("abc").word(15).texture("wall"); });
  std::vector<uint8_t> cut = binOf([](BinWriter& w) { w.prologue(1).texture("wall").counted(17, 5); });
  cut.resize(cut.size() - 7);
  return {
      {"no parameters", example, {}, kUsage, 1, {}},
      {"two parameters", example, {"a.bin", "brick01"}, kUsage, 1, {}},
      {"four parameters", example, {"a.bin", "brick01", "x", "y"}, kUsage, 1, {}},
      {"new name too long, file missing", example, {"missing.bin", "a", "abcdefghijklmnop"},
       "New RAW name is too long.\n", 1, {}},
      {"missing file", example, {"missing.bin"}, "Unable to open missing.bin\n", 1, {}},
      {"wildcard is a literal name", example, {"*.bin"}, "Unable to open *.bin\n", 1, {}},
      {"list", example, {"a.bin"},
       "Found texture: brick01\nFound texture: wall_stone\nFound texture: brick01\n"
       "Found texture: door_oak\n",
       0, {}},
      {"rename every match", example, {"a.bin", "brick01", "door_oak"}, "Renamed 2 blocks\n", 0,
       {{52, "door_oak"}, {240, "door_oak"}}},
      {"rename to 15 characters", example, {"a.bin", "door_oak", "abcdefghijklmno"},
       "Renamed 1 blocks\n", 0, {{300, "abcdefghijklmno"}}},
      {"rename to the empty name", example, {"a.bin", "wall_stone", ""}, "Renamed 1 blocks\n", 0,
       {{136, ""}}},
      {"rename matching nothing", example, {"a.bin", "Brick01", "x"}, "Renamed 0 blocks\n", 0, {}},
      {"not a BIN file", binOf([](BinWriter& w) { w.prologue(0, 21).endBlock(); }), {"a.bin", "a", "b"},
       "a.bin is not a valid BIN file\n", 1, {}},
      {"empty file", {}, {"a.bin"}, "a.bin is not a valid BIN file\n", 1, {}},
      {"unknown block, list", texturesThenUnknown, {"a.bin"},
       "Found texture: wall\nFound texture: abc\nFound unknown f block at 44, leaving\n", 0, {}},
      {"unknown block, rename", texturesThenUnknown, {"a.bin", "wall", "door"},
       "Found unknown f block at 44, leaving\nRenamed 1 blocks\n", 0, {{28, "door"}}},
      {"file ends inside a block", cut, {"a.bin", "wall", "door"},
       "Found incomplete block at 38, leaving\nRenamed 1 blocks\n", 1, {{40, "door"}}},
  };
}

TEST_F(EndToEnd, Cases) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    writeFile(path("a.bin"), c.file);
    Result r = run(c.args);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.status, c.status);
    if (nativeProgram()) {
      EXPECT_EQ(r.err, "");
    }
    std::vector<uint8_t> expected = c.file;
    for (const auto& p : c.patches) {
      // The new name and its NUL; the rest of the field keeps its bytes.
      std::memcpy(&expected[p.first], p.second.c_str(), p.second.size() + 1);
    }
    EXPECT_EQ(readFile(path("a.bin")), expected);
  }
}

// What is not a regular file is refused, without waiting for a writer.
TEST_F(EndToEnd, DirectoryAndFifoAreRefused) {
  struct Row {
    const char* name;
    int (*make)(const char* path);
    bool posixOnly;
  } rows[] = {
      {"d.bin", [](const char* p) { return mkdir(p, 0755); }, false},
      {"p.bin", [](const char* p) { return mkfifo(p, 0644); }, true},
  };
  for (const Row& row : rows) {
    if (row.posixOnly && !nativeProgram()) continue;  // FIFOs are POSIX files
    SCOPED_TRACE(row.name);
    ASSERT_EQ(row.make(path(row.name).c_str()), 0);
    Result r = run({row.name});  // a hang here fails the test by its timeout
    EXPECT_EQ(r.out, std::string("Unable to open ") + row.name + "\n");
    EXPECT_EQ(r.status, 1);
  }
}

TEST_F(EndToEnd, RenameThenListRoundTrips) {
  writeFile(path("a.bin"), exampleBinFile());
  EXPECT_EQ(run({"a.bin", "brick01", "brick02"}).out, "Renamed 2 blocks\n");
  EXPECT_EQ(run({"a.bin", "brick02", "brick01"}).out, "Renamed 2 blocks\n");
  EXPECT_EQ(readFile(path("a.bin")), exampleBinFile());
}

// A sparse file whose texture and unknown block lie past 4 GiB.
TEST_F(EndToEnd, OffsetsPastFourGiB) {
  std::FILE* f = std::fopen(path("big.bin").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  {
    BinWriter w(f);
    w.prologue(1).texture("near").counted(41, 400000000, /*sparse=*/true).texture("far").word(15);
    ASSERT_TRUE(w.finish());
  }
  ASSERT_EQ(std::fclose(f), 0);
  // 20 + 12 + 24 + 24 + 4,800,000,000 + 24: the unknown block at 0x11e1a3068.
  const uint64_t farName = 56 + 24 + 4800000000ull + 8;
  Result listed = run({"big.bin"});
  EXPECT_EQ(listed.out,
            "Found texture: near\nFound texture: far\nFound unknown f block at 11e1a3068, leaving\n");
  EXPECT_EQ(listed.status, 0);
  Result renamed = run({"big.bin", "far", "farther"});
  EXPECT_EQ(renamed.out, "Found unknown f block at 11e1a3068, leaving\nRenamed 1 blocks\n");
  std::ifstream in(path("big.bin"), std::ios::binary);
  in.seekg(static_cast<std::streamoff>(farName));
  char name[8] = {};
  in.read(name, 8);
  EXPECT_EQ(std::string(name, 8), std::string("farther\0", 8));
  struct stat st;
  ASSERT_EQ(stat(path("big.bin").c_str(), &st), 0);
  EXPECT_EQ(static_cast<uint64_t>(st.st_size), farName + 16 + 4);
}

// True when this process may take a write lease on the file at `path`
// (leases enabled, a file system that has them, the user owns the file).
bool leaseOnFilePossible(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR);
  bool ok = fd >= 0 && fcntl(fd, F_SETLEASE, F_WRLCK) == 0;
  if (fd >= 0) close(fd);  // and with it the lease
  return ok;
}

// A lock that another program holds on the file, a flock or a record lock
// (fcntl, lockf), keeps the tool off it, and so does merely having it open
// where the tool can take a lease; once let go, the tool renames.
TEST_F(EndToEnd, FileLockedByAnotherProgramIsRefusedAndUntouched) {
  if (!nativeProgram()) GTEST_SKIP() << "flock, record locks and leases are the POSIX build's hold";
  struct Lock {
    const char* name;
    int (*take)(int fd);
    bool lease;
  } locks[] = {
      {"flock", [](int fd) { return flock(fd, LOCK_EX | LOCK_NB); }, false},
      {"lockf", [](int fd) { return lockf(fd, F_TLOCK, 0); }, false},
      {"open, no lock", [](int) { return 0; }, true},
  };
  for (const Lock& lock : locks) {
    SCOPED_TRACE(lock.name);
    writeFile(path("a.bin"), exampleBinFile());
    if (lock.lease && !leaseOnFilePossible(path("a.bin"))) {
      std::printf("skipped row \"%s\": no lease on this file system\n", lock.name);
      continue;
    }
    writeFile(path("a.bin"), exampleBinFile());
    int fd = open(path("a.bin").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(lock.take(fd), 0);
    Result held = run({"a.bin", "brick01", "x"});
    EXPECT_EQ(held.out, "Unable to open a.bin\n");
    EXPECT_EQ(held.status, 1);
    EXPECT_EQ(readFile(path("a.bin")), exampleBinFile());
    close(fd);
    EXPECT_EQ(run({"a.bin", "brick01", "x"}).out, "Renamed 2 blocks\n");
  }
}

// What the shell puts around the tool: a file-size limit, and standard
// output redirected onto the BIN file itself (read-write and appending).
// No signal ends the run, the status is 1, and every name is wholly old or
// new: the record that crosses the limit is put back as it was.
TEST_F(EndToEnd, ShellLimitsAndRedirections) {
  if (!nativeProgram()) GTEST_SKIP() << "ulimit and redirections of a POSIX shell";
  std::vector<uint8_t> fifty;
  BinWriter w(&fifty);
  w.prologue(0);
  std::string listing;
  for (int i = 0; i < 50; ++i) {
    w.texture("brick01");
    listing += "Found texture: brick01\n";
  }
  w.endBlock();
  const std::string tool = toolCommand();
  struct Row {
    const char* name;
    rlim_t fileSizeLimit;  // bytes, as ulimit -f sets it; 0: none
    std::string command;   // run by sh in the scratch folder
    std::string out;       // what .stdout holds
    std::string err;
    int status;
    int renamed;  // of the first records
  } rows[] = {
      // The 42nd record (at 1,008) crosses the limit.
      {"file-size limit", 1024, tool + " a.bin brick01 zzzzzzzzzzzzzzz >.stdout",
       "Unable to write a.bin\nRenamed 41 blocks\n", "", 1, 41},
      // The listing's first write takes 1,024 bytes, the next none.
      {"file-size limit on the listing", 1024, tool + " a.bin >.stdout", listing.substr(0, 1024),
       "", 1, 0},
      {"output read-write onto the file", 0, tool + " a.bin brick01 zzz 1<>a.bin", "",
       "Unable to open a.bin\n", 1, 0},
      {"output appended to the file", 0, tool + " a.bin >>a.bin", "", "Unable to open a.bin\n", 1,
       0},
      // Standard error is the file too: nothing is said at all.
      {"output and error onto the file", 0, "{ " + tool + " a.bin brick01 zzz 1<>a.bin 2>&1; }", "",
       "", 1, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    writeFile(path("a.bin"), fifty);
    writeFile(path(".stdout"), {});
    const std::string cmd = "cd " + shellQuote(dir_) + " && " + row.command + " 2>.stderr </dev/null";
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      struct rlimit limit = {row.fileSizeLimit, row.fileSizeLimit};
      if (row.fileSizeLimit > 0 && setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(99);
      execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
      _exit(98);
    }
    int w = 0;
    ASSERT_EQ(waitpid(pid, &w, 0), pid);
    // A shell gives 128 + the signal's number for a command a signal ended.
    EXPECT_TRUE(WIFEXITED(w) && WEXITSTATUS(w) == row.status) << "wait status " << w;
    const std::vector<uint8_t> out = readFile(path(".stdout")), err = readFile(path(".stderr"));
    EXPECT_EQ(std::string(out.begin(), out.end()), row.out);
    EXPECT_EQ(std::string(err.begin(), err.end()), row.err);
    std::vector<uint8_t> expected = fifty;
    for (int i = 0; i < row.renamed; ++i) std::memcpy(&expected[28 + 24 * i], "zzzzzzzzzzzzzzz", 16);
    EXPECT_TRUE(readFile(path("a.bin")) == expected) << "the file is not as the run should leave it";
  }
}

// A pipe that the program at its other end set not to block: the listing
// waits for the reader, and every byte of it arrives.
TEST_F(EndToEnd, NonBlockingPipeIsWaitedOn) {
  if (!nativeProgram()) GTEST_SKIP() << "O_NONBLOCK pipes are POSIX matters";
  std::vector<uint8_t> many;
  BinWriter w(&many);
  w.prologue(0);
  std::string expected;
  for (int i = 0; i < 20000; ++i) {
    w.texture("t" + std::to_string(i));
    expected += "Found texture: t" + std::to_string(i) + "\n";
  }
  w.endBlock();
  ASSERT_GT(expected.size(), 4u * 65536u);
  writeFile(path("a.bin"), many);
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  ASSERT_EQ(fcntl(pipeEnds[1], F_SETFL, O_NONBLOCK), 0);
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir_.c_str()) != 0 || dup2(pipeEnds[1], STDOUT_FILENO) < 0) _exit(99);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    execl(VELKOR_BINARY, VELKOR_BINARY, "a.bin", static_cast<char*>(nullptr));
    _exit(98);
  }
  close(pipeEnds[1]);
  usleep(200000);  // the pipe fills, and the tool meets EAGAIN
  std::string got;
  char chunk[4096];
  ssize_t n;
  while ((n = read(pipeEnds[0], chunk, sizeof chunk)) > 0) got.append(chunk, static_cast<size_t>(n));
  close(pipeEnds[0]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status;
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);
}

TEST_F(EndToEnd, OutputThatCannotBeWrittenIsAFailure) {
  if (!nativeProgram()) GTEST_SKIP() << "/dev/full is a Linux device";
  writeFile(path("a.bin"), exampleBinFile());
  std::string cmd = "cd " + shellQuote(dir_) + " && " + toolCommand() + " a.bin >/dev/full 2>/dev/null";
  int w = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(w));
  EXPECT_EQ(WEXITSTATUS(w), 1);
}

// Standard output closed, or a pipe whose reader has gone: nothing printed
// may reach the BIN file, no signal ends the run, renames are all made
// whatever becomes of the output, and the status is 1.
TEST_F(EndToEnd, OutputClosedOrBrokenNeverReachesTheFile) {
  if (!nativeProgram()) GTEST_SKIP() << "closed descriptors and SIGPIPE are POSIX matters";
  std::vector<uint8_t> threeThenUnknown =
      binOf([](BinWriter& w) { w.prologue(0).texture("abc").texture("abc").texture("abc").word(15); });
  std::vector<uint8_t> manyTextures;
  BinWriter many(&manyTextures);
  many.prologue(0);
  for (int i = 0; i < 20000; ++i) many.texture("t" + std::to_string(i));
  many.endBlock();
  enum Output { kClosed, kBrokenPipe };
  struct Row {
    const char* name;
    Output output;
    std::vector<uint8_t> file;
    std::vector<std::string> args;
  } rows[] = {
      {"closed, list", kClosed, manyTextures, {"a.bin"}},
      {"closed, rename", kClosed, threeThenUnknown, {"a.bin", "abc", "xyz"}},
      {"broken pipe, list", kBrokenPipe, manyTextures, {"a.bin"}},
      {"broken pipe, rename", kBrokenPipe, threeThenUnknown, {"a.bin", "abc", "xyz"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    writeFile(path("a.bin"), row.file);
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    close(pipeEnds[0]);  // the reader is gone before the tool starts
    std::vector<std::string> argv = {VELKOR_BINARY};
    argv.insert(argv.end(), row.args.begin(), row.args.end());
    std::vector<char*> cargv;
    for (std::string& a : argv) cargv.push_back(&a[0]);
    cargv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      signal(SIGPIPE, SIG_DFL);  // as a shell starts it
      if (chdir(dir_.c_str()) != 0) _exit(99);
      if (row.output == kClosed) {
        close(STDOUT_FILENO);
      } else if (dup2(pipeEnds[1], STDOUT_FILENO) < 0) {
        _exit(99);
      }
      close(pipeEnds[1]);
      execv(cargv[0], cargv.data());
      _exit(98);
    }
    close(pipeEnds[1]);
    int w = 0;
    ASSERT_EQ(waitpid(pid, &w, 0), pid);
    ASSERT_TRUE(WIFEXITED(w)) << "ended by signal " << (WIFSIGNALED(w) ? WTERMSIG(w) : 0);
    EXPECT_EQ(WEXITSTATUS(w), 1);
    std::vector<uint8_t> expected = row.file;
    if (row.args.size() == 3) {
      for (size_t field : {28u, 52u, 76u}) std::memcpy(&expected[field], "xyz", 3);
    }
    EXPECT_TRUE(readFile(path("a.bin")) == expected) << "the file is not as the run should leave it";
  }
}

}  // namespace
}  // namespace velkor
