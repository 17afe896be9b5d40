// End-to-end: the built program run as a user runs it, comparing exact
// output bytes, exit status and the file's bytes afterwards.
//
// VELKOR_COMMAND   the command that runs the tool, its words quoted for sh
//                  (default: the native build); for instance
//                  "'wine' '/path/to/velkor.exe'"
// VELKOR_CRLF=1    the program must end its lines with CR LF: compared as LF
// VELKOR_NATIVE=0  the program is not a native POSIX one: cases that depend
//                  on POSIX files (FIFOs, flock) are skipped
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "binfile/platform_file.h"
#include "binfile/posix_file.h"
#include "support/test_support.h"

namespace velkor {
namespace {

std::string envOr(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  return v && *v ? v : fallback;
}

bool nativeProgram() { return envOr("VELKOR_NATIVE", "1") == "1"; }

std::string toolCommand() { return envOr("VELKOR_COMMAND", shellQuote(VELKOR_BINARY)); }

constexpr uid_t kNobody = 65534;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

// How sh is started: standard output into .stdout, closed, a pipe whose
// reader has gone, or a pipe that its reader (which copies it to .stdout)
// set not to block; a file-size limit (ulimit -f; 0: none); as nobody.
enum class Output { kFile, kClosed, kBrokenPipe, kNonBlockingPipe };
struct Start {
  Output output = Output::kFile;
  rlim_t fileSizeLimit = 0;
  bool asNobody = false;
};

class EndToEnd : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(chmod(dir_.c_str(), 0755), 0); }  // a run as nobody reaches it

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  // Runs `command` by sh in the scratch folder, standard output and error
  // into .stdout and .stderr there (unless the command redirects them),
  // standard input empty. Returns its exit status (-signal: ended by one).
  int shell(const std::string& command, const Start& how = {}) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return -1;
    std::unique_ptr<OtherProcess> reader;
    if (how.output == Output::kNonBlockingPipe) {
      if (fcntl(pipeEnds[1], F_SETFL, O_NONBLOCK) != 0) return -1;
      reader = std::make_unique<OtherProcess>([&](int) {
        close(pipeEnds[1]);
        usleep(200000);  // the pipe fills, and the tool meets EAGAIN
        std::string got;
        char chunk[4096];
        for (ssize_t n; (n = read(pipeEnds[0], chunk, sizeof chunk)) > 0;) got.append(chunk, n);
        writeFile(path(".stdout"), std::vector<uint8_t>(got.begin(), got.end()));
        return true;
      });
    }
    const pid_t pid = startProgram({"/bin/sh", "-c", command}, dir_, path(".stdout"), path(".stderr"),
                                   how.output >= Output::kBrokenPipe ? pipeEnds[1] : -1, [&] {
      signal(SIGPIPE, SIG_DFL);  // as a shell starts it
      close(pipeEnds[0]);        // the reader is gone before the tool starts
      if (how.output == Output::kClosed) close(1);
      const struct rlimit limit = {how.fileSizeLimit, how.fileSizeLimit};
      return (how.fileSizeLimit == 0 || setrlimit(RLIMIT_FSIZE, &limit) == 0) &&
             (!how.asNobody || (setgroups(0, nullptr) == 0 && setgid(kNobody) == 0 && setuid(kNobody) == 0));
    });
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    const int status = pid > 0 ? exitStatus(pid) : -1000;
    reader.reset();  // once it has copied every byte
    return status;
  }

  // Runs the tool in the scratch folder, so that names are given as typed.
  Result run(const std::vector<std::string>& args, const Start& how = {}) {
    std::string cmd = toolCommand();
    for (const std::string& a : args) cmd += " " + shellQuote(a);
    Result r;
    r.status = shell(cmd, how);
    r.out = text(".stdout");
    r.err = text(".stderr");
    return r;
  }

  // The scratch file `name`; under VELKOR_CRLF=1 its CR LF read as LF, and a
  // bare LF as "<LF>\n", so that it cannot pass.
  std::string text(const std::string& name) const {
    const std::string t = readText(path(name));
    if (envOr("VELKOR_CRLF", "0") != "1") return t;
    std::string lf;
    for (size_t i = 0; i < t.size(); ++i) {
      if (t[i] == '\n' && (i == 0 || t[i - 1] != '\r')) lf += "<LF>";
      if (t[i] != '\r' || i + 1 == t.size() || t[i + 1] != '\n') lf += t[i];
    }
    return lf;
  }

  // Both modes refuse `arg` as a file that cannot be opened.
  void expectRefused(const std::string& arg, const Start& how = {}) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{arg}, {arg, "brick01", "x"}}) {
      Result r = run(args, how);
      EXPECT_EQ(r.out, "Unable to open " + arg + "\n");
      EXPECT_EQ(r.status, 1);
      EXPECT_TRUE(!nativeProgram() || r.err.empty()) << r.err;
    }
  }

  const ScratchDir scratch_;
  const std::string dir_ = scratch_.path();
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
      {"five parameters", example, {"a", "b", "c", "d", "e"}, kUsage, 1, {}},
      {"new name too long, file missing", example, {"missing.bin", "a", "abcdefghijklmnop"},
       "New RAW name is too long.\n", 1, {}},
      {"list", example, {"a.bin"},
       "Found texture: brick01\nFound texture: wall_stone\nFound texture: brick01\nFound texture: door_oak\n", 0, {}},
      {"rename every match", example, {"a.bin", "brick01", "door_oak"}, "Renamed 2 blocks\n", 0,
       {{52, "door_oak"}, {240, "door_oak"}}},
      {"rename to 15 characters", example, {"a.bin", "door_oak", "abcdefghijklmno"},
       "Renamed 1 blocks\n", 0, {{300, "abcdefghijklmno"}}},
      {"rename to the empty name", example, {"a.bin", "wall_stone", ""}, "Renamed 1 blocks\n", 0, {{136, ""}}},
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

bool makeSocket(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (fd < 0 || path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  bool ok = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);  // the socket file stays
  return ok;
}

// What is not a regular file that the user may write is refused in both
// modes, without waiting for a writer, and the file beside it is left as it
// was. (The file is always opened for writing, even to list it.) Wildcards
// and device names are names as typed, however Windows would take them:
// f.bin matches every pattern, and the null device would read as empty.
TEST_F(EndToEnd, WhatCannotBeHeldIsRefused) {
  struct Row {
    const char* name;
    const char* arg;  // relative to the scratch folder, or absolute
    // Puts the thing at the path; returns false if the system cannot.
    bool (*make)(const std::string& full);
    bool posixOnly;
    bool readOnly;  // by its mode; root, who may write any file, runs it as nobody
  } rows[] = {
      {"missing file", "missing.bin", nullptr, false, false},
      {"directory", "d.bin", [](const std::string& p) { return mkdir(p.c_str(), 0755) == 0; }, false,
       false},
      {"FIFO", "p.bin", [](const std::string& p) { return mkfifo(p.c_str(), 0644) == 0; }, true, false},
      {"socket", "s.bin", makeSocket, true, false},
      {"character device", "/dev/null", nullptr, true, false},
      {"a regular file taken as a folder", "f.bin/", nullptr, true, false},
      {"a file the user may only read", "f.bin",
       [](const std::string& p) { return chmod(p.c_str(), 0444) == 0; }, true, true},
      {"*.bin", "*.bin", nullptr, false, false}, {"?.bin", "?.bin", nullptr, false, false},
      {"*", "*", nullptr, false, false}, {"f.*", "f.*", nullptr, false, false},
      {"NUL", "NUL", nullptr, false, false}, {"\\\\.\\NUL", "\\\\.\\NUL", nullptr, false, false},
      {"CON", "CON", nullptr, false, false},
  };
  writeFile(path("f.bin"), exampleBinFile());
  for (const Row& row : rows) {
    if (row.posixOnly && !nativeProgram()) continue;  // POSIX files, or users
    SCOPED_TRACE(row.name);
    const std::string full = row.arg[0] == '/' ? row.arg : path(row.arg);
    ASSERT_TRUE(!row.make || row.make(full));
    expectRefused(row.arg, {Output::kFile, 0, row.readOnly && geteuid() == 0});  // a hang fails by the timeout
    EXPECT_EQ(readFile(path("f.bin")), exampleBinFile());
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
  char name[8] = {};
  in.seekg(static_cast<std::streamoff>(farName)).read(name, 8);
  EXPECT_EQ(std::string(name, 8), std::string("farther\0", 8));
  EXPECT_EQ(std::filesystem::file_size(path("big.bin")), farName + 16 + 4);
}

// A descriptor of the file at `path` that holds `lock` (a flock, a lockf
// record lock, or none: 0), closed when let go; nullptr if it cannot.
std::shared_ptr<void> heldHere(const std::string& path, int (*lock)(int fd)) {
  std::shared_ptr<int> fd(new int(open(path.c_str(), O_RDWR)), [](int* held) {
    if (*held >= 0) close(*held);
    delete held;
  });
  return *fd >= 0 && (!lock || lock(*fd) == 0) ? fd : nullptr;
}

// The same flock, held by a process of its own.
std::shared_ptr<void> heldThere(const std::string& path, int operation) {
  auto other = std::make_shared<OtherProcess>([&](int to) {
    int fd = open(path.c_str(), O_RDONLY);
    return fd >= 0 && flock(fd, operation | LOCK_NB) == 0 && write(to, "y", 1) == 1;
  });
  return other->word() == "y" ? other : nullptr;
}

// Another holder of the file keeps the tool off it: a flock, shared or not,
// a record lock (fcntl, lockf), another run of the tool, or merely having it
// open where the tool can take a lease. A flock counts even where no lease
// can be had, for a user who does not own the file. Once let go, the tool
// renames.
TEST_F(EndToEnd, FileHeldByAnotherProgramIsRefusedAndUntouched) {
  if (!nativeProgram()) GTEST_SKIP() << "flock, record locks and leases are the POSIX build's hold";
  struct Holder {
    const char* name;
    std::function<std::shared_ptr<void>(const std::string& path)> hold;
    bool lease;     // held only by the lease that the tool cannot take
    bool asNobody;  // the file is another user's, writable by all
  } holders[] = {
      {"flock, exclusive", [](const std::string& p) { return heldThere(p, LOCK_EX); }, false, false},
      {"flock, shared", [](const std::string& p) { return heldThere(p, LOCK_SH); }, false, false},
      {"flock through another open, exclusive",
       [](const std::string& p) { return heldHere(p, [](int fd) { return flock(fd, LOCK_EX | LOCK_NB); }); },
       false, false},
      {"flock through another open, shared",
       [](const std::string& p) { return heldHere(p, [](int fd) { return flock(fd, LOCK_SH | LOCK_NB); }); },
       false, false},
      {"lockf", [](const std::string& p) { return heldHere(p, [](int fd) { return lockf(fd, F_TLOCK, 0); }); },
       false, false},
      {"another run of the tool", [](const std::string& p) {
         return std::shared_ptr<void>(openPlatformFile(p.c_str(), true).release(),
                                      [](void* f) { delete static_cast<PlatformFile*>(f); });
       }, false, false},
      {"open, no lock", [](const std::string& p) { return heldHere(p, nullptr); }, true, false},
      {"flock, no lease for this user", [](const std::string& p) { return heldThere(p, LOCK_EX); }, false,
       true},
  };
  // The tool's open asks a lease holder for the file: the system tells the
  // holder so with SIGIO.
  signal(SIGIO, SIG_IGN);
  for (const Holder& holder : holders) {
    SCOPED_TRACE(holder.name);
    writeFile(path("a.bin"), exampleBinFile());
    ASSERT_EQ(chmod(path("a.bin").c_str(), 0666), 0);
    if ((holder.lease && !leaseOnFilePossible(path("a.bin"))) || (holder.asNobody && geteuid() != 0)) {
      std::printf("skipped row \"%s\": no lease here, or no other user to be\n", holder.name);
      continue;
    }
    const Start how = {Output::kFile, 0, holder.asNobody};
    {
      std::shared_ptr<void> hold = holder.hold(path("a.bin"));
      ASSERT_TRUE(hold);
      expectRefused("a.bin", how);
    }
    // Read once the holder has let go: an open while a lease is held would
    // wait for it to be broken.
    EXPECT_EQ(readFile(path("a.bin")), exampleBinFile());
    EXPECT_EQ(run({"a.bin", "brick01", "x"}, how).out, "Renamed 2 blocks\n");
  }
}

// What the shell puts around the tool: a file-size limit, standard output
// onto the BIN file itself (read-write and appending), a device that takes
// nothing, closed, or a pipe whose reader has gone. No signal ends the run,
// the status is 1, nothing printed reaches the BIN file, renames are all
// made whatever becomes of the output, and every name is wholly old or new:
// the record that crosses the limit is put back as it was. A pipe set not
// to block is waited on, and every byte of the listing arrives. The rows
// of plain redirections run on both programs.
TEST_F(EndToEnd, ShellLimitsAndRedirections) {
  std::vector<uint8_t> fifty, many;
  BinWriter w(&fifty), m(&many);
  w.prologue(0);
  m.prologue(0);
  std::string listing, manyListing;
  for (int i = 0; i < 20000; ++i) {
    if (i < 50) w.texture("brick01"), listing += "Found texture: brick01\n";
    m.texture("t" + std::to_string(i));
    manyListing += "Found texture: t" + std::to_string(i) + "\n";
  }
  w.word(15);
  m.endBlock();
  const std::string tool = toolCommand(), rename = " a.bin brick01 zzzzzzzzzzzzzzz";
  struct Row {
    const char* name;
    Start how;
    std::string command;  // run by sh in the scratch folder
    std::string out;      // what .stdout holds
    std::string err;
    int renamed;  // of the first records
    const std::vector<uint8_t>* file = nullptr;  // fifty, if not given
    int status = 1;
  } rows[] = {
      // Stores never grow the file: a limit below its length keeps none out.
      // Writes meet it: the 42nd name would end past 1,024 bytes.
      {"file-size limit", {Output::kFile, 1024}, tool + rename,
       kMappedStores ? "Found unknown f block at 4c4, leaving\nRenamed 50 blocks\n"
                     : "Unable to write a.bin\nRenamed 41 blocks\n",
       "", kMappedStores ? 50 : 41, nullptr, kMappedStores ? 0 : 1},
      // The listing's first write takes 1,024 bytes, the next none.
      {"file-size limit on the listing", {Output::kFile, 1024}, tool + " a.bin", listing.substr(0, 1024),
       "", 0},
      {"output read-write onto the file", {}, tool + rename + " 1<>a.bin", "", "Unable to open a.bin\n",
       0},
      {"output appended to the file", {}, tool + " a.bin >>a.bin", "", "Unable to open a.bin\n", 0},
      // Another user's file: no lease, so the open succeeds, and the open file is compared.
      {"output appended to the file, rename", {Output::kFile, 0, true}, tool + rename + " >>a.bin", "",
       "Unable to open a.bin\n", 0},
      {"appended through a symbolic link", {}, "ln -s a.bin l.bin; " + tool + " l.bin >>a.bin", "",
       "Unable to open l.bin\n", 0},
      {"refusals appended", {}, tool + " a.bin x >>a.bin;" + tool + " a.bin x 0123456789abcdef >>a.bin",
       "", std::string(kUsage) + "New RAW name is too long.\n", 0},
      // Standard error is the file too: nothing is said at all.
      {"output and error onto the file", {}, "{ " + tool + rename + " 1<>a.bin 2>&1; }", "", "", 0},
      {"output onto a full device", {}, tool + " a.bin >/dev/full", "", "", 0},
      {"closed, list", {Output::kClosed}, tool + " a.bin", "", "", 0, &many},
      {"closed, rename", {Output::kClosed}, tool + rename, "", "", 50},
      {"broken pipe, list", {Output::kBrokenPipe}, tool + " a.bin", "", "", 0, &many},
      {"broken pipe, rename", {Output::kBrokenPipe}, tool + rename, "", "", 50},
      {"pipe set not to block", {Output::kNonBlockingPipe}, tool + " a.bin", manyListing, "", 0, &many, 0},
  };
  for (const Row& row : rows) {
    const bool posixOnly = row.how.output != Output::kFile || row.how.fileSizeLimit || row.how.asNobody;
    if ((posixOnly && !nativeProgram()) || (row.how.asNobody && geteuid() != 0)) continue;
    SCOPED_TRACE(row.name);
    const std::vector<uint8_t>& file = row.file ? *row.file : fifty;
    writeFile(path("a.bin"), file);
    ASSERT_EQ(chmod(path("a.bin").c_str(), 0666), 0);
    // A shell gives 128 + the signal's number for a command a signal ended.
    EXPECT_EQ(shell(row.command, row.how), row.status);
    EXPECT_TRUE(text(".stdout") == row.out) << "output differs";
    EXPECT_EQ(text(".stderr"), row.err);
    std::vector<uint8_t> expected = file;
    for (int i = 0; i < row.renamed; ++i) std::memcpy(&expected[28 + 24 * i], "zzzzzzzzzzzzzzz", 16);
    EXPECT_TRUE(readFile(path("a.bin")) == expected) << "the file is not as the run should leave it";
  }
}

}  // namespace
}  // namespace velkor
