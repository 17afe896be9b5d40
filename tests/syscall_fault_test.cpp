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
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "binfile/block_walk.h"
#include "binfile/posix_file.h"
#include "support/strace_trace.h"
#include "support/test_support.h"

namespace velkor {
namespace {

const char kListing[] =
    "Found texture: abc\nFound texture: wall\nFound texture: abc\n"
    "Found texture: abc\nFound texture: abc\nFound texture: door\nFound texture: abc\n";
const char kListingBeforeSecondRead[] =
    "Found texture: abc\nFound texture: wall\nFound texture: abc\n";
constexpr int kAll = INT_MAX;
const bool kEmulated = std::strstr(VELKOR_BINARY, "/velkor-emulated");  // a cross build's: under qemu
constexpr char kWrites[] = "pwrite64,mmap", kNoMapping[] = "-e inject=mmap:error=ENODEV";

// Starts the tool under strace -P bin with `options` (words without quotes)
// on `bin`, renaming "abc" to "stone" or listing, in `dir`, its output into
// dir/out and dir/err, the core-file limit as high as it may go and SIGIO
// blocked if asked. Returns strace's PID.
pid_t startTraced(const std::string& bin, bool rename, const std::string& options,
                  const std::string& dir, bool noticeBlocked = false) {
  std::istringstream words(options);
  std::vector<std::string> args = {"strace", "-f", "-qq", "-P", bin};
  args.insert(args.end(), std::istream_iterator<std::string>(words), {});
  args.insert(args.end(), {VELKOR_BINARY, bin});
  if (rename) args.insert(args.end(), {"abc", "stone"});
  return startProgram(args, dir, dir + "/out", dir + "/err", -1, [noticeBlocked] {
    struct rlimit core;
    if (getrlimit(RLIMIT_CORE, &core) == 0 && (core.rlim_cur = core.rlim_max) == core.rlim_max) {
      setrlimit(RLIMIT_CORE, &core);
    }
    // A sanitized build's leak check cannot run under ptrace: it is left
    // off there, and the rest of the sanitizers stay on.
    const char* asan = std::getenv("ASAN_OPTIONS");
    setenv("ASAN_OPTIONS", ((asan && *asan ? std::string(asan) + ":" : "") + "detect_leaks=0").c_str(), 1);
    // As a shell starts it, even under nohup or in the background.
    for (int s : {SIGHUP, SIGINT, SIGQUIT}) signal(s, SIG_DFL);
    sigset_t notice;
    return sigemptyset(&notice) == 0 && sigaddset(&notice, SIGIO) == 0 &&
           (!noticeBlocked || sigprocmask(SIG_BLOCK, &notice, nullptr) == 0);
  });
}

// `out` with each FILE in it replaced by `bin`.
std::string withPath(std::string out, const std::string& bin) {
  for (size_t at = 0; (at = out.find("FILE", at)) != std::string::npos; at += bin.size()) {
    out.replace(at, 4, bin);
  }
  return out;
}

TEST(SyscallFault, ToolAnswersEveryFailedCall) {
  const std::string unusable = straceUnusable(shellQuote(VELKOR_BINARY));
  if (!unusable.empty()) GTEST_SKIP() << unusable;

  // strace -P matches descriptors by their resolved path: the scratch
  // folder's is canonical.
  const ScratchDir scratch;
  const std::string dir = scratch.path();
  const std::string bin = dir + "/a.bin";
  const TestFile file = makeTestFile();

  // call: the class of calls strace traces, a pattern for the line of the one
  // that fails ("": any), and which of those it is (from 1; -1: the last).
  // options: injections made in both runs.
  const FaultRow rows[] = {
      {"open fails", {"openat", "", 1}, "error=EIO", false, "Unable to open FILE\n", 1, 0},
      {"open interrupted", {"openat", "", 1}, "error=EINTR", true, "Renamed 5 blocks\n", 0, kAll},
      // %fstat: whichever fstat the C library calls (newfstatat, fstat, ...);
      // the size is asked last.
      {"size query fails", {"%fstat", "", -1}, "error=EIO", false, "Unable to read FILE\n", 1, 0},
      {"flock held by another", {"flock", "", 1}, "error=EAGAIN", true,
       "Unable to open FILE\n", 1, 0},
      {"flock unsupported", {"flock", "", 1}, "error=ENOLCK", true, "Renamed 5 blocks\n", 0, kAll},
      {"record lock held by another", {"fcntl", "F_OFD_SETLK", 1}, "error=EACCES", true,
       "Unable to open FILE\n", 1, 0},
      {"record lock unsupported", {"fcntl", "F_OFD_SETLK", 1}, "error=EINVAL", true,
       "Renamed 5 blocks\n", 0, kAll},
      {"later read interrupted", {"pread64", "", 2}, "error=EINTR", false, kListing, 0, 0},
      {"prologue read fails", {"pread64", "", 1}, "error=EIO", true, "Unable to read FILE\n", 1, 0},
      {"later read fails, list", {"pread64", "", 2}, "error=EIO", false,
       std::string(kListingBeforeSecondRead) + "Unable to read FILE\n", 1, 0},
      {"later read fails, rename", {"pread64", "", 2}, "error=EIO", true,
       "Unable to read FILE\nRenamed 2 blocks\n", 1, 2},
      // Names are stored through a mapping, written where there is none.
      {"no mapping", {"mmap", "", 1}, "error=ENODEV", true, "Renamed 5 blocks\n", 0, kAll},
      {"later write finds the disk full", {kWrites, "pwrite", 3}, "error=ENOSPC", true,
       "Unable to write FILE\nRenamed 2 blocks\n", 1, 2, kNoMapping},
      {"later write interrupted", {kWrites, "pwrite", 3}, "error=EINTR", true,
       "Renamed 5 blocks\n", 0, kAll, kNoMapping},
      {"later write cut short", {kWrites, "pwrite", 3}, "retval=10", true,
       "Unable to write FILE\nRenamed 2 blocks\n", 1, 2, kNoMapping},
      // Said once, whatever fails after it.
      {"later write fails, then the flush", {"pwrite64,mmap,fdatasync", "pwrite", 3}, "error=ENOSPC", true,
       "Unable to write FILE\nRenamed 2 blocks\n", 1, 2,
       std::string(kNoMapping) + " -e inject=fdatasync:error=EIO"},
      {"flush fails", {"fdatasync", "", 1}, "error=EIO", true,
       "Unable to write FILE\nRenamed 5 blocks\n", 1, kAll},
      {"flush interrupted", {"fdatasync", "", 1}, "error=EINTR", true,
       "Renamed 5 blocks\n", 0, kAll},
      {"close fails after the flush", {"close", "", 1}, "error=EIO", true,
       "Renamed 5 blocks\n", 0, kAll},
  };
  // Nothing on standard error: neither from the tool nor from strace, whose
  // complaints about its own arguments would land there.
  const TracedRun run = [&](bool rename, const std::vector<std::string>& options) {
    std::string o = "-o /dev/null";
    for (const std::string& option : options) o += " " + option;
    const int status = exitStatus(startTraced(bin, rename, o, dir));
    return std::make_pair(status, readText(dir + "/out") + readText(dir + "/err"));
  };
  for (FaultRow row : rows) {
    if (!kMappedStores && row.call.name == "mmap") continue;  // a build that writes maps nothing
    // The same run without a fault, traced, says where the call lies.
    row.options = "-e trace=" + row.call.name + " " + row.options;
    writeFile(bin, file.bytes);
    exitStatus(startTraced(bin, row.rename, "-o " + dir + "/trace " + row.options, dir));
    row.call = findCall(readText(dir + "/trace"), row.call.line, row.call.when);
    row.out = withPath(row.out, bin);
    EXPECT_EQ(faultRowDiffers(row, bin, run), "") << row.name << ": " << row.options;
  }
}

// The process that holds the flock on the file with inode `inode`, as
// /proc/locks names it, or -1 if none does within five seconds.
pid_t flockHolder(ino_t inode) {
  const std::string key = ":" + std::to_string(inode) + " ";
  for (int i = 0; i < 500; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
    std::ifstream locks("/proc/locks");
    // "1: FLOCK  ADVISORY  WRITE 4242 fd:00:1234 0 EOF"
    long pid = -1;
    for (std::string line; std::getline(locks, line);) {
      if (line.find("FLOCK") != std::string::npos && line.find(key) != std::string::npos &&
          std::sscanf(line.c_str(), "%*s %*s %*s %*s %ld", &pid) == 1 && pid > 0) {
        return static_cast<pid_t>(pid);
      }
    }
  }
  return -1;
}

// While the tool is held inside a system call on the file (strace delays
// it), another program signals it, or opens or truncates the file. Every
// name afterwards is wholly old or new, the count printed is true, and the
// file is never made longer; a signal ends the tool as that signal does,
// after the count, and leaves no core file, whatever limit the tool was
// started with.
TEST(SyscallFault, OthersDuringTheRun) {
  const std::string unusable = straceUnusable(shellQuote(VELKOR_BINARY));
  if (!unusable.empty()) GTEST_SKIP() << unusable;
  const ScratchDir scratch;
  const std::string bin = scratch.path("a.bin");
  std::vector<uint8_t> threeTextures;
  BinWriter(&threeTextures).prologue(0).texture("abc").texture("abc").texture("abc").endBlock();
  const size_t nameFields[] = {28, 52, 76};
  // Listed, with a second read in the middle of the walk.
  const std::vector<uint8_t> twoReads = makeTestFile().bytes;
  writeFile(bin, threeTextures);
  const bool leases = leaseOnFilePossible(bin);
  // A run without a lease: the fcntl that asks for it, found by its
  // argument in a clean run, is refused (where the tool asks for none,
  // there is none to refuse).
  ASSERT_EQ(exitStatus(startTraced(bin, true, "-o " + scratch.path("trace") + " -e trace=fcntl", scratch.path())), 0);
  const TracedCall lease = findCall(readText(scratch.path("trace")), "F_SETLEASE", 1);
  const std::string noLease =
      lease.name == "" ? "" : " -e inject=fcntl:error=EACCES:when=" + std::to_string(lease.when);

  enum Act { kSignal, kOpenAndRead, kTruncate };
  // The first store waits in the mapping (or the pwrite) of the file, or the second read.
  const std::string writeWaits = std::string("-e inject=") + (kMappedStores ? "mmap" : "pwrite64") + ":delay_enter=1000000:when=1";
  const std::string readWaits = "-e inject=pread64:delay_exit=1000000:when=";
  struct Row {
    const char* name;
    bool list;  // list twoReads, or rename threeTextures
    std::string injections;
    Act act;
    int signal;
    std::string out;  // FILE stands for the path
    int status;       // or -signal for a run the signal ended
    int renamed;      // the first of the three records
    bool emptied;     // the file ends truncated
    bool needsLease;
    int secondSignal = 0;  // sent right after the first
    bool noticeBlocked = false;  // the tool starts with SIGIO blocked
    bool firstAlone = false;     // the file holds the first texture alone
  };
  std::vector<Row> rows;
  // Sent by a program, SIGIO and SIGBUS are no lease's notice and no fault
  // of the tool's own: they stop the run as the others do, however the
  // tool was started.
  for (int s : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1, SIGBUS, SIGIO}) {
    rows.push_back(
        {strsignal(s), false, writeWaits, kSignal, s, "Renamed 1 blocks\n", -s, 1, false, false});
  }
  rows.back().noticeBlocked = true;  // SIGIO: it arrives all the same
  rows.insert(rows.end(), {
      // Stopped and let go on (Ctrl-Z, then fg): the run goes on to its end.
      {"SIGSTOP, then SIGCONT", false, writeWaits, kSignal, SIGSTOP, "Renamed 3 blocks\n", 0, 3, false, false, SIGCONT},
      // Asked again while stopping: the second ends the run at once, by that
      // signal, before the count and the store the mapping waited for (a pwrite held is made).
      {"SIGINT, then SIGTERM", false, writeWaits, kSignal, SIGINT, "", -SIGTERM, kMappedStores ? 0 : 1, false, false,
       SIGTERM},
      // The signal comes during the read of the block after the counted
      // one: that block is listed, and the lines gathered so far go out.
      {"SIGTERM, list", true, readWaits + "2", kSignal, SIGTERM,
       std::string(kListingBeforeSecondRead) + "Found texture: abc\n", -SIGTERM, 0, false, false},
      // The other program's open waits for the run to end: it reads the
      // renamed file.
      {"open", false, writeWaits, kOpenAndRead, 0, "Renamed 3 blocks\n", 0, 3, false, true},
      {"truncate", false, writeWaits, kTruncate, 0, "Renamed 3 blocks\n", 0, 3, true, true},
      // The last write held (a frozen file system, a debugger) until past
      // half the kernel's lease-break time, which the open has asked for: it
      // counts, and the run says it came too late.
      {"open, the write held past the deadline", false, writeWaits.substr(0, writeWaits.find("=1000000")) +
       "=" + std::to_string(std::atoi(readText("/proc/sys/fs/lease-break-time").c_str()) * 500000 + 1000000) +
       ":when=1", kOpenAndRead, 0, "Unable to write FILE\nRenamed 1 blocks\n", 1, 1, false, true, 0, false, true},
      // A listing gives its lease up at once: the other program reads
      // while the tool still waits.
      {"open, list", true, readWaits + "2", kOpenAndRead, 0, kListing, 0, 0, false, true},
      // Without a lease, the truncate goes through while the read waits,
      // and the write that follows is not made; or between the check of the
      // length and the store, which faults and is not made either.
      {"truncate before the check, no lease", false, readWaits + "1" + noLease, kTruncate, 0,
       "Unable to write FILE\nRenamed 0 blocks\n", 1, 0, true, false},
      {"truncate before the store, no lease", false, writeWaits + noLease, kTruncate, 0,
       "Unable to write FILE\nRenamed 0 blocks\n", 1, 0, true, false},
  });
  if (!kMappedStores) rows.pop_back();  // a pwrite there makes the file longer (no check at the store)
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const bool qemuFaults = kEmulated && sizeof(void*) == 4 && row.secondSignal == SIGTERM;  // delivering it right after the first
    if ((row.needsLease && !leases) || qemuFaults) {
      std::printf("skipped row \"%s\": %s\n", row.name, qemuFaults ? "qemu's i386 emulation faults on the second signal" : "no lease on this file system");
      continue;
    }
    std::vector<uint8_t> file = row.list ? twoReads : threeTextures;
    if (row.firstAlone) {  // the first texture, then an end block
      file.resize(44);
      file.resize(48);
    }
    writeFile(bin, file);
    struct stat st;
    ASSERT_EQ(stat(bin.c_str(), &st), 0);
    const pid_t strace = startTraced(bin, !row.list, "-o /dev/null " + row.injections, scratch.path(), row.noticeBlocked);
    ASSERT_GT(strace, 0);
    const pid_t tool = flockHolder(st.st_ino);
    // By now the tool waits in the call that strace holds back.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::string seen;
    const auto asked = std::chrono::steady_clock::now();
    if (tool > 0 && row.act == kSignal) {
      kill(tool, row.signal);
      if (row.secondSignal != 0) kill(tool, row.secondSignal);
    } else if (tool > 0) {
      OtherProcess other([&](int to) {
        if (row.act == kTruncate) return truncate(bin.c_str(), 0) == 0 && write(to, "t", 1) == 1;
        const std::string bytes = readText(bin);
        return write(to, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
      });
      seen = other.word();
      // Not kept waiting by a listing (whose read waits 700 ms more).
      EXPECT_TRUE(!row.list || std::chrono::steady_clock::now() - asked < std::chrono::milliseconds(400));
    }
    EXPECT_EQ(exitStatus(strace), row.status);
    ASSERT_GT(tool, 0) << "the tool never held the file";
    EXPECT_EQ(readText(scratch.path("out")), withPath(row.out, bin));
    // qemu says when a signal that dumps core ends the tool, core file or none.
    EXPECT_EQ(readText(scratch.path("err")), kEmulated && (row.status == -SIGQUIT || row.status == -SIGBUS) ? "qemu: uncaught target signal " +
              std::to_string(-row.status) + " (" + strsignal(-row.status) + ") - core dumped\n" : "");
    EXPECT_FALSE(std::ifstream(scratch.path("core")) || std::ifstream(scratch.path("core." + std::to_string(tool))))
        << "a core file";
    std::string expected(file.begin(), file.end());
    for (int i = 0; i < row.renamed; ++i) std::memcpy(&expected[nameFields[i]], "stone", 6);
    if (row.act == kOpenAndRead) {
      EXPECT_TRUE(seen == expected) << "the other program read the file mid-run";
    }
    if (row.emptied) {
      EXPECT_EQ(seen, "t");
      expected.clear();
    }
    EXPECT_EQ(readText(bin), expected) << "the file's bytes afterwards differ";
  }
}

// The lease's deadline, in this process with a lease-break time of 2 s:
// another program asks for the file right after the open, and the rename
// starts `pause` later. Past half the break time no name is written,
// whether stored through a mapping (whose windows, all mapped after the
// notice, do not restart the time) or written with pwrite (no mapping);
// before it, every one is, one of them across the edge of a window.
TEST(LeaseDeadline, NoNameWrittenPastHalfTheBreakTime) {
  signal(SIGIO, [](int) { noteLeaseBreak(); });
  const ScratchDir scratch;
  const std::string bin = scratch.path("a.bin");
  // "abc" at 28, across the first edge at 4096, and past it.
  const std::vector<uint8_t> file = binOf([](BinWriter& w) {
    w.prologue(0).texture("abc");
    for (uint64_t name : {4088, 8292}) w.countedWords(static_cast<int32_t>((name - 32 - w.offset()) / 4)).texture("abc");
    w.endBlock();
  });
  const uint64_t kPage = 4096;
  struct Row {
    uint64_t window;
    int pauseMs;
    const char* out;
    int renamed;
  } rows[] = {
      {kPage, 0, "Renamed 3 blocks\n", 3},
      {kPage, 1200, "Unable to write t.bin\nRenamed 0 blocks\n", 0},
      {0, 0, "Renamed 3 blocks\n", 3},
      {0, 1200, "Unable to write t.bin\nRenamed 0 blocks\n", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "window " << row.window << ", pause " << row.pauseMs);
    writeFile(bin, file);
    std::unique_ptr<PlatformFile> f = openPosixFile(bin.c_str(), true, std::chrono::seconds(2), row.window);
    ASSERT_TRUE(f && f->lengthFixed()) << "no lease on this file system";
    ASSERT_EQ(open(bin.c_str(), O_RDONLY | O_NONBLOCK), -1);  // asks for the file, and waits no more
    std::this_thread::sleep_for(std::chrono::milliseconds(row.pauseMs));
    CapturedOutput out;
    EXPECT_EQ(runTool(renameRequest("abc", "stone"), std::move(f), out.stream()), row.renamed ? 0 : 1);
    EXPECT_EQ(out.text(), row.out);
    std::vector<uint8_t> expected = file;
    for (size_t at : {28, 4088, 8292}) {
      ASSERT_EQ(std::string(&file[at], &file[at] + 4), std::string("abc\0", 4));
      if (row.renamed) std::memcpy(&expected[at], "stone", 6);
    }
    EXPECT_TRUE(readFile(bin) == expected) << "the file's bytes afterwards differ";
  }
}

// Output of `script`, run by sh as root, $V the tool, in a new folder with a
// copy of the scratch folder's files and a mount namespace of its own (so
// that nothing it mounts outlives it); "skip..." where that cannot be had.
std::string inOwnMounts(const ScratchDir& scratch, const std::string& script) {
  if (geteuid() != 0) return "skip: mounts need root";
  const std::string cmd = "cd " + shellQuote(scratch.path()) + " && cd $(mktemp -d -p .) && cp ../*.bin . && V=" +
                          shellQuote(VELKOR_BINARY) + " ASAN_OPTIONS=detect_leaks=0 unshare -m --propagation private sh -c " +
                          shellQuote(script) + " >" + shellQuote(scratch.path("log")) + " 2>&1";
  if (std::system(cmd.c_str()) != 0 && readText(scratch.path("log")).empty()) return "skip: no unshare -m";
  return readText(scratch.path("log"));
}

// The file system under the BIN file decides how names are written: through
// the mapping on overlayfs (as on tmpfs), with one pwrite of the name field on
// FUSE (whose pages would be written back whole); a store that faults on a
// hole of a full tmpfs is tried again with pwrite. Standard output onto a
// file of another file system with the same inode number is no refusal.
TEST(SyscallFault, OtherFileSystems) {
  const std::string unusable = straceUnusable(shellQuote(VELKOR_BINARY));
  if (!unusable.empty()) GTEST_SKIP() << unusable;
  const ScratchDir scratch;
  writeFile(scratch.path("a.bin"), makeTestFile().bytes);
  // A name field that starts a page, its type and lead word at the end of
  // the one before, which holds a name too.
  writeFile(scratch.path("page.bin"), binOf([](BinWriter& w) {
    w.prologue(0).texture("").countedWords((4088 - 44 - 24) / 4).texture("");
  }));
  const std::string traced = "strace -f -qq -o t -e trace=mmap,pwrite64 -P \"$(pwd -P)/";
  struct Row {
    const char* name;
    std::string script;  // ends with the tool's status, then what the test checks
    std::string out;
  } rows[] = {
      {"overlayfs", "mkdir m && mount -t tmpfs none m && cd m && mkdir l u w o && cp ../a.bin l && "
           "mount -t overlay none -o lowerdir=l,upperdir=u,workdir=w o && " + traced +
           "o/a.bin\" $V o/a.bin abc stone; echo $?; grep -c 'mmap.*MAP_SHARED[^,]*, [0-9]*,' t; grep -c pwrite t",
       kMappedStores ? "Renamed 5 blocks\n0\n1\n0\n" : "Renamed 5 blocks\n0\n0\n5\n"},
      {"FUSE", "command -v bindfs >/dev/null || { echo skip: no bindfs; exit; }; mkdir l o && cp a.bin l && "
           "bindfs l o && trap 'umount o' EXIT && " + traced +
           "o/a.bin\" $V o/a.bin abc stone; echo $?; grep -c mmap t; grep -c 'pwrite64([0-9]*, \"stone' t",
       "Renamed 5 blocks\n0\n0\n5\n"},
      {"hole on a full tmpfs", "mkdir m && mount -t tmpfs -o size=64k none m && head -c 4096 page.bin >m/a.bin && "
           "truncate -s 8192 m/a.bin && { cat /dev/zero >m/fill; } 2>/dev/null; " + traced +
           "m/a.bin\" $V m/a.bin '' stone; echo $?; grep -c 'pwrite64([0-9]*, \"stone.*, 16, 4096) = -1 ENOSPC' t",
       "Unable to write m/a.bin\nRenamed 1 blocks\n1\n1\n"},
      {"same inode number", "mkdir m n && mount -t tmpfs none m && mount -t tmpfs none n && cp a.bin m && "
           ": >n/out && [ $(stat -c %i m/a.bin) = $(stat -c %i n/out) ] || { echo skip: inode numbers differ; exit; }; "
           "$V m/a.bin >>n/out; echo $?; wc -l <n/out",
       "0\n7\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string out = inOwnMounts(scratch, row.script);
    if (out.rfind("skip", 0) == 0) {
      std::printf("skipped row \"%s\": %s", row.name, out.c_str());
      continue;
    }
    EXPECT_EQ(out, row.out);
  }
}

}  // namespace
}  // namespace velkor
