// What only the Windows program does, checked from the Linux side: the
// programs of the cross build are run under wine, with their output kept
// byte for byte (CR LF line ends included).
//
// VELKOR_WINE              the wine loader
// VELKOR_EXE               velkor.exe as the suite runs it (32- or 64-bit)
// VELKOR_SHIPPED_EXE       the 32-bit velkor.exe that ships
// VELKOR_HELPER_EXE        windows_helper.exe, which keeps a file open or
//                          prints a version record
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/strace_trace.h"
#include "support/test_support.h"

namespace velkor {
namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

struct Result {
  int status = -1;
  std::string out;  // exactly as written: CR LF line ends
};

class WindowsProgram : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"VELKOR_WINE", "VELKOR_EXE", "VELKOR_SHIPPED_EXE", "VELKOR_HELPER_EXE"}) {
      ASSERT_NE(env(name), "") << name << " is not set: run this through CTest";
    }
    ASSERT_EQ(mkdir(dir_.c_str(), 0755), 0);
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  // Starts `before... wine program args...` in dir_, no shell, with standard
  // output into top_/out (or `out`, if given) and error into top_/out.err.
  pid_t start(const std::string& program, const std::vector<std::string>& args, int out = -1,
              std::vector<std::string> before = {}) {
    before.insert(before.end(), {env("VELKOR_WINE"), program});
    before.insert(before.end(), args.begin(), args.end());
    return startProgram(before, dir_, top_ + "/out", top_ + "/out.err", out);
  }
  Result run(const std::string& program, const std::vector<std::string>& args,
             const std::vector<std::string>& before = {}) {
    Result r;
    r.status = exitStatus(start(program, args, -1, before));
    r.out = readText(top_ + "/out");
    return r;
  }
  Result velkor(const std::vector<std::string>& args) { return run(env("VELKOR_EXE"), args); }

  // Another Windows program with `file` open (windows_helper hold `how`)
  // until its standard input, the stream returned, is closed: pclose gives
  // its exit status. A failure if it could not open the file.
  std::FILE* hold(const std::string& file, const char* how) {
    const std::string log = top_ + "/held";
    std::remove(log.c_str());
    std::FILE* in = popen(("cd " + shellQuote(dir_) + " && exec " + shellQuote(env("VELKOR_WINE")) +
                           " " + shellQuote(env("VELKOR_HELPER_EXE")) + " hold " + file + " " + how +
                           " >" + shellQuote(log) + " 2>&1").c_str(), "w");
    // Its first line: "held" once it has the file open, or why it cannot.
    for (int i = 0; i < 3000 && readText(log).find('\n') == std::string::npos; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(readText(log), "held\r\n") << file << " not held";
    return in;
  }

  const ScratchDir scratch_;
  // The programs run in dir_, which holds nothing but the test's files
  // (wildcards would match anything else); their output goes beside it.
  const std::string top_ = scratch_.path(), dir_ = top_ + "/run";
};

TEST_F(WindowsProgram, FileHeldByAnotherProgramIsRefusedAndUntouched) {
  // However the other program opened the file, it is refused while it is
  // open, and can be renamed once the other program has let go.
  for (const char* how : {"exclusive", "shared", "reader"}) {
    SCOPED_TRACE(how);
    writeFile(path("a.bin"), exampleBinFile());
    std::FILE* holder = hold("a.bin", how);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"a.bin"}, {"a.bin", "brick01", "x"}}) {
      Result r = velkor(args);
      EXPECT_TRUE(r.out == "Unable to open a.bin\r\n" && r.status == 1) << r.status << " " << r.out;
    }
    EXPECT_EQ(readFile(path("a.bin")), exampleBinFile());
    EXPECT_EQ(pclose(holder), 0);
    Result r = velkor({"a.bin", "brick01", "x"});
    EXPECT_TRUE(r.out == "Renamed 2 blocks\r\n" && r.status == 0) << r.status << " " << r.out;
  }
}

// Standard output appended to the BIN file by cmd, which keeps the file
// open, so that the program cannot open it; or by the Linux shell (the
// program's standard output is the file) to a refusal that only Windows
// makes. Not refused: output onto the first file of another new tmpfs mount,
// whose file id (its inode number) is the BIN file's and whose volume wine
// cannot tell, with another length, then with the same length and time of
// the last write but another of the last change (as root, in a mount
// namespace with a wine server of its own that sees the prefix through an
// overlay, so that the suite's is left alone).
TEST_F(WindowsProgram, OutputOntoTheFileItselfGoesToStandardError) {
  writeFile(path("velkor.exe"), readFile(env("VELKOR_EXE")));
  const std::string wine = shellQuote(env("VELKOR_WINE"));
  const std::string inMounts =
      "unshare -m true || exit 77; unshare -m sh -c \"mkdir m1 m2 && mount -t tmpfs t m1 && "
      "mount -t tmpfs t m2 && cp a.bin m2 && : >m1/out && mkdir m1/u m1/w m1/p && "
      "[ \\$(stat -c %i m1/out) = \\$(stat -c %i m2/a.bin) ] && mount -t overlay o -o "
      "lowerdir=$WINEPREFIX,upperdir=m1/u,workdir=m1/w m1/p && export TMPDIR=$PWD/m1 "
      "WINEPREFIX=$PWD/m1/p || exit 77; ";
  const std::pair<std::string, std::string> cases[] = {  // the command, and what it says (status 1)
      {wine + " cmd /c \"velkor.exe a.bin brick01 xyz >> a.bin\"", "Unable to open a.bin\r\n"},
      {wine + " velkor.exe a.bin brick01 \u0101 >>a.bin",
       "New RAW name has characters that this system's code page lacks.\r\n"},
      {inMounts + wine + " velkor.exe m2/a.bin >>m1/out && truncate -r m2/a.bin m1/out && touch -r "
       "m2/a.bin m1/out && " + wine + " velkor.exe ./m2/a.bin >>m1/out; s=\\$?; wineserver -k; exit \\$s\"",
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    writeFile(path("a.bin"), exampleBinFile());
    const int w = std::system(
        ("cd " + shellQuote(dir_) + " && " + c.first + " 2>" + shellQuote(top_ + "/err")).c_str());
    if (WIFEXITED(w) && WEXITSTATUS(w) == 77) {
      std::printf("skipped: two tmpfs mounts with files of one inode number need root\n");
      continue;
    }
    EXPECT_EQ(WIFEXITED(w) ? WEXITSTATUS(w) : -1, c.second.empty() ? 0 : 1);
    EXPECT_EQ(readText(top_ + "/err"), c.second);
    EXPECT_EQ(readFile(path("a.bin")), exampleBinFile());
  }
}

// A file whose only texture is `name`.
std::vector<uint8_t> oneTexture(const std::string& name) {
  return binOf([&](BinWriter& w) { w.prologue(0).texture(name).endBlock(); });
}

// Only the typed file is opened: beside each typed name lies the file that
// the ANSI code page's look-alikes would make of it. A name shows in a
// message with "?" for what the code page lacks. RAW names are the code
// page's bytes exactly: Windows-1252 (the suite's wine), or UTF-8, which wine
// gives Hindi (no ANSI code page of its own; LOCPATH lends it the files of
// C.UTF-8, so that parameters still reach wine as UTF-8). Under either, a
// name holding U+FFFD (which a byte that is no UTF-8 becomes) is refused.
TEST_F(WindowsProgram, NamesInTheCodePage) {
  const char kLent[] = "/usr/lib/locale/C.utf8";
  ASSERT_TRUE(mkdir((top_ + "/locale").c_str(), 0755) == 0 && access(kLent, R_OK) == 0 &&
              symlink(kLent, (top_ + "/locale/hi_IN.UTF-8").c_str()) == 0) << kLent;
  const std::vector<std::string> utf8 = {"env", "LOCPATH=" + top_ + "/locale", "LC_ALL=hi_IN.UTF-8"};
  ASSERT_EQ(mkdir((top_ + "/wn").c_str(), 0755), 0);
  for (const char* lookAlike : {"tast.bin", "Omega.bin", "../wn/y.bin"}) writeFile(path(lookAlike), oneTexture("plain_a"));
  writeFile(path("日本語.bin"), oneTexture("kanji"));
  const std::string longDir = std::string(100, 'd') + "/" + std::string(100, 'e') + "/" + std::string(100, 'f');
  ASSERT_TRUE(std::filesystem::create_directories(path(longDir)));
  writeFile(path(longDir + "/long.bin"), oneTexture("far"));
  std::string windowsLong = "\\\\?\\Z:" + path(longDir + "/long.bin");
  std::replace(windowsLong.begin(), windowsLong.end(), '/', '\\');
  const char kNewLacks[] = "New RAW name has characters that this system's code page lacks.\r\n";
  const char kOldLacks[] = "Old RAW name has characters that this system's code page lacks.\r\n";
  struct Case {
    std::vector<std::string> args;
    const char* out;
    int status;
    std::vector<uint8_t> after = {};         // a.bin's bytes afterwards (none: as it was)
    std::vector<std::string> before = {};  // utf8: the ANSI code page is UTF-8
  };
  const Case cases[] = {
      {{"tāst.bin"}, "Unable to open t?st.bin\r\n", 1},
      {{"tāst.bin", "plain_a", "HACKED"}, "Unable to open t?st.bin\r\n", 1},
      {{"Ωmega.bin"}, "Unable to open ?mega.bin\r\n", 1},
      {{"..／wn／y.bin", "plain_a", "HACKED"}, "Unable to open ..?wn?y.bin\r\n", 1},
      {{"日本語.bin"}, "Found texture: kanji\r\n", 0},
      {{longDir + "/long.bin"}, "Found texture: far\r\n", 0},
      {{windowsLong}, "Found texture: far\r\n", 0},
      {{"a.bin", "Omega", "Ωmega_ā"}, kNewLacks, 1},
      {{"a.bin", "Omega", "日本語"}, kNewLacks, 1},
      {{"a.bin", "Ωmega", "x"}, kOldLacks, 1},
      // 15 characters, 15 bytes in the code page (30 in UTF-8)
      {{"a.bin", "Omega", "ñññññññññññññññ"}, "Renamed 1 blocks\r\n", 0, oneTexture(std::string(15, '\xf1'))},
      {{"a.bin", "Omega", "ññññññññññññññññ"}, "New RAW name is too long.\r\n", 1},
      {{"a.bin", "Omega", "Ωmega"}, "Renamed 1 blocks\r\n", 0, oneTexture("Ωmega"), utf8},
      {{"a.bin", "Omega", "x\xff"}, kNewLacks, 1, {}, utf8},
      {{"a.bin", "\uFFFDmega", "x"}, kOldLacks, 1, {}, utf8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    writeFile(path("a.bin"), oneTexture("Omega"));
    Result r = run(env("VELKOR_EXE"), c.args, c.before);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(readFile(path("a.bin")), c.after.empty() ? oneTexture("Omega") : c.after);
  }
  // With the typed file there too, it alone is renamed.
  writeFile(path("tāst.bin"), oneTexture("a_macron"));
  EXPECT_EQ(velkor({"tāst.bin", "a_macron", "HACKED"}).out, "Renamed 1 blocks\r\n");
  EXPECT_EQ(velkor({"tāst.bin"}).out, "Found texture: HACKED\r\n");
  for (const char* lookAlike : {"tast.bin", "Omega.bin", "../wn/y.bin"})
    EXPECT_EQ(readFile(path(lookAlike)), oneTexture("plain_a")) << lookAlike;
}

// The Win32 backend under wine, with the Linux calls that wine makes on the
// BIN file failed by strace. Which call a row fails is found, with no stack
// frames (strace has none for a 32-bit program), by the order of the calls
// on the file in a clean run: the open's device query ends with fstatfs
// (wine reads the file's first bytes for it); then come the walk's reads,
// a size query and a write for each record, and the flush.
TEST_F(WindowsProgram, BackendAnswersEveryFailedCallUnderWine) {
  const TestFile file = makeTestFile();
  const std::string bin = path("a.bin");  // canonical, as strace -P wants
  const std::vector<std::string> renameArgs = {"a.bin", "abc", "stone"};
  // Wine's server and services, started by a program outside strace, stay
  // up for the whole table: started under strace, they would be traced, and
  // each run would last until they end.
  writeFile(path("keep.bin"), {});
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> keeper(hold("keep.bin", "reader"), pclose);
  const std::string unusable =
      straceUnusable(shellQuote(env("VELKOR_WINE")) + " " + shellQuote(env("VELKOR_EXE")));
  if (!unusable.empty()) GTEST_SKIP() << unusable;

  writeFile(bin, file.bytes);
  Result clean = run(env("VELKOR_EXE"), renameArgs,
                     {"strace", "-f", "-qq", "-o", top_ + "/trace", "-P", bin, "-e",
                      "trace=pread64,pwrite64,preadv,pwritev,read,write,fsync,fdatasync,"
                      "%fstat,%fstatfs,statx"});
  ASSERT_EQ(clean.out, "Renamed 5 blocks\r\n");
  std::vector<TracedCall> reads, writes, sizes, flushes, sizeBeforeWrite;
  for (const TracedCall& call : tracedCalls(readText(top_ + "/trace"))) {
    const std::string& n = call.name;
    if (n.find("statfs") != std::string::npos) {
      reads.clear(), writes.clear(), sizes.clear(), flushes.clear(), sizeBeforeWrite.clear();
    } else if (n.find("stat") != std::string::npos) {
      sizes.push_back(call);
    } else if (n == "pread64" || n == "preadv" || n == "read") {
      reads.push_back(call);
    } else if (n == "fsync" || n == "fdatasync") {
      flushes.push_back(call);
    } else {
      writes.push_back(call);
      sizeBeforeWrite.push_back(sizes.empty() ? TracedCall{} : sizes.back());
      sizes.clear();
    }
  }
  // Two reads of the walk; a record write for each rename; one flush, last.
  ASSERT_EQ(reads.size(), 2u) << readText(top_ + "/trace");
  ASSERT_EQ(writes.size(), 5u) << readText(top_ + "/trace");
  ASSERT_EQ(flushes.size(), 1u) << readText(top_ + "/trace");

  const char kBeforeSecondRead[] =
      "Found texture: abc\r\nFound texture: wall\r\nFound texture: abc\r\n";
  auto renamed = [&](int n) {  // the file with its first n names "abc" renamed
    std::vector<uint8_t> b = file.bytes;
    for (int i = 0; i < n && i < 5; ++i) std::memcpy(&b[file.matchNames[i]], "stone", 6);
    return b;
  };
  const FaultRow rows[] = {
      {"first read fails", reads[0], "error=EIO", true, "Unable to read a.bin\r\n", 1, 0},
      {"later read fails, list", reads[1], "error=EIO", false,
       std::string(kBeforeSecondRead) + "Unable to read a.bin\r\n", 1, 0},
      {"later read fails, rename", reads[1], "error=EIO", true,
       "Unable to read a.bin\r\nRenamed 2 blocks\r\n", 1, 2},
      {"later read finds the file cut short", reads[1], "retval=0", false,
       std::string(kBeforeSecondRead) + "Found incomplete block at 232f4, leaving\r\n", 1, 0},
      {"size query before a later write fails", sizeBeforeWrite[2], "error=EIO", true,
       "Unable to write a.bin\r\nRenamed 2 blocks\r\n", 1, 2},
      {"later write finds the disk full", writes[2], "error=ENOSPC", true,
       "Unable to write a.bin\r\nRenamed 2 blocks\r\n", 1, 2},
      {"later write cut short", writes[2], "retval=10", true,
       "Unable to write a.bin\r\nRenamed 2 blocks\r\n", 1, 2},
      {"flush fails", flushes[0], "error=EIO", true, "Unable to write a.bin\r\nRenamed 5 blocks\r\n", 1, 5},
  };
  const TracedRun traced = [&](bool rename, const std::vector<std::string>& options) {
    std::vector<std::string> before = {"strace", "-f", "-qq", "-o", "/dev/null", "-P", bin};
    before.insert(before.end(), options.begin(), options.end());
    const Result r = run(env("VELKOR_EXE"), rename ? renameArgs : std::vector<std::string>{"a.bin"}, before);
    return std::make_pair(r.status, r.out);
  };
  for (const FaultRow& row : rows) EXPECT_EQ(faultRowDiffers(row, bin, traced), "") << row.name;

  // Ctrl-C, as wine delivers it: a SIGINT to the program, while strace holds
  // each record's write for a second. Ctrl-C comes once the first record is
  // in the file: the record being written is finished, the count printed is
  // the file's, and the run ends as Ctrl-C ends a program
  // (STATUS_CONTROL_C_EXIT, low byte 0x3a) before its last record.
  writeFile(bin, file.bytes);
  const pid_t strace = start(env("VELKOR_EXE"), renameArgs, -1,
                                      {"strace", "-f", "-qq", "-o", "/dev/null", "-P", bin, "-e",
                                       "inject=pwrite64:delay_enter=1000000:when=1+"});
  for (int i = 0; i < 1000 && readFile(bin) == file.bytes; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::ifstream children("/proc/" + std::to_string(strace) + "/task/" + std::to_string(strace) +
                         "/children");
  pid_t program = 0;
  children >> program;
  EXPECT_TRUE(program > 0 && kill(program, SIGINT) == 0) << "no program under strace";
  EXPECT_EQ(exitStatus(strace), 0x3a);
  int count = 0;
  EXPECT_EQ(std::sscanf(readText(top_ + "/out").c_str(), "Renamed %d blocks\r\n", &count), 1);
  EXPECT_TRUE(count >= 1 && count < 5) << count;
  EXPECT_TRUE(readFile(bin) == renamed(count)) << "the file's bytes afterwards differ";
}

// Ctrl-C while a listing waits on output that nobody takes (a pipe never
// read): the first asks the run to stop, which cannot end while the output
// waits; a second, sent apart, ends the program at once, as Ctrl-C ends one
// (STATUS_CONTROL_C_EXIT, low byte 0x3a).
TEST_F(WindowsProgram, SecondCtrlCEndsTheProgramAtOnce) {
  writeFile(path("a.bin"), binOf([](BinWriter& w) {
    w.prologue(0);
    for (int i = 0; i < 20000; ++i) w.texture("t" + std::to_string(i));
    w.endBlock();
  }));
  int unread[2];
  ASSERT_EQ(pipe2(unread, O_CLOEXEC), 0);
  const pid_t program = start(env("VELKOR_EXE"), {"a.bin"}, unread[1]);
  close(unread[1]);
  char first;  // once output comes, the handler is set, and the pipe can never take it all
  EXPECT_EQ(read(unread[0], &first, 1), 1);
  int status = -1;
  for (int interrupt = 1; interrupt <= 2; ++interrupt) {
    EXPECT_EQ(waitpid(program, &status, WNOHANG), 0) << "ended before Ctrl-C " << interrupt;
    kill(program, SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  }
  for (int i = 0; i < 200 && waitpid(program, &status, WNOHANG) == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0x3a) << "wait status " << status;
  close(unread[0]);  // a program still running meets a broken pipe
  waitpid(program, nullptr, 0);
}

// The shipped program: its version record as Windows reads it, and its
// image as the cross tools read it: a 32-bit console program that needs
// only system DLLs (the C++ runtime is inside; the C runtime is Windows's
// own msvcrt.dll).
TEST_F(WindowsProgram, ShippedExecutable) {
  Result r = run(env("VELKOR_HELPER_EXE"), {"version", env("VELKOR_SHIPPED_EXE")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "fixed FileVersion 1.0.0.1\r\n"
            "fixed ProductVersion 1.0.0.1\r\n"
            "fixed FileType application\r\n"
            "FileVersion=1.0.0.1\r\n"
            "ProductVersion=1.0.0.1\r\n"
            "ProductName=Velkor\r\n"
            "FileDescription=Velkor\r\n"
            "OriginalFilename=velkor.exe\r\n");
  ASSERT_EQ(std::system(("i686-w64-mingw32-objdump -p " + shellQuote(env("VELKOR_SHIPPED_EXE")) +
                         " >" + shellQuote(top_ + "/image")).c_str()), 0);
  const std::string image = readText(top_ + "/image");
  for (const char* fact : {"file format pei-i386\n", "(PE32)\n", "(Windows CUI)\n", "DLL Name: "}) {
    EXPECT_NE(image.find(fact), std::string::npos) << fact;
  }
  for (size_t at = 0; (at = image.find("DLL Name: ", at)) != std::string::npos; at += 10) {
    const std::string dll = image.substr(at + 10, image.find('\n', at) - at - 10);
    EXPECT_TRUE(!strcasecmp(dll.c_str(), "kernel32.dll") || !strcasecmp(dll.c_str(), "msvcrt.dll")) << dll;
  }
}

}  // namespace
}  // namespace velkor
