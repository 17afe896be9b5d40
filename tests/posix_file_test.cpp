// The POSIX backend against what the system can put at a path: things that
// are not regular files, files held by others, files the user may not write.
// Each is refused with "Unable to open", status 1, without waiting, and
// whatever is at the path is left as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bin_writer.h"
#include "binfile/block_walk.h"
#include "binfile/platform_file.h"
#include "support/test_support.h"

namespace velkor {
namespace {

constexpr int kChildSkipped = 77;
constexpr unsigned kChildSeconds = 10;

struct ChildRun {
  int status = -1;
  std::string output;
  bool hung = false;
  bool skipped = false;
};

// Runs the tool by path in a child process, so that a run that would wait
// forever is ended by an alarm, and privileges can be dropped for it alone.
ChildRun runInChild(const RunRequest& request, bool asUnprivilegedUser = false) {
  ChildRun run;
  int output[2];
  if (pipe(output) != 0) return run;
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    close(output[0]);
    alarm(kChildSeconds);
    if (asUnprivilegedUser && geteuid() == 0) {
      // Root may write any file whatever its mode: run as nobody instead.
      if (setgid(65534) != 0 || setuid(65534) != 0) _exit(kChildSkipped);
    }
    CapturedOutput out;
    int status = runTool(request, out.stream());
    const std::string text = out.text();  // a line or two: the pipe takes it whole
    if (write(output[1], text.data(), text.size()) != static_cast<ssize_t>(text.size())) _exit(99);
    _exit(status);
  }
  close(output[1]);
  char chunk[256];
  for (ssize_t n; (n = read(output[0], chunk, sizeof chunk)) > 0;) run.output.append(chunk, n);
  close(output[0]);
  int w = 0;
  if (pid < 0 || waitpid(pid, &w, 0) != pid) return run;
  run.hung = WIFSIGNALED(w) && WTERMSIG(w) == SIGALRM;
  run.skipped = WIFEXITED(w) && WEXITSTATUS(w) == kChildSkipped;
  run.status = WIFEXITED(w) ? WEXITSTATUS(w) : -1;
  return run;
}

// Holds a flock on a file from another process until destroyed.
class LockingProcess {
 public:
  LockingProcess(const std::string& path, int operation) {
    int ready[2], release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(release[1]);
      int fd = open(path.c_str(), O_RDONLY);
      char ok = fd >= 0 && flock(fd, operation | LOCK_NB) == 0 ? 'y' : 'n';
      if (write(ready[1], &ok, 1) != 1) _exit(1);
      char ignored;
      while (read(release[0], &ignored, 1) > 0) {
      }
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_ = release[1];
    char ok = 'n';
    locked_ = read(ready[0], &ok, 1) == 1 && ok == 'y';
    close(ready[0]);
  }
  ~LockingProcess() {
    if (release_ >= 0) close(release_);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }
  bool locked() const { return locked_; }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool locked_ = false;
};

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

TEST(PosixFile, RefusesWhatItMayNotHold) {
  std::vector<uint8_t> example = exampleBinFile();
  struct Case {
    const char* name;
    std::string path;  // relative to the scratch folder, or absolute
    // Puts the thing at the path; returns false if the system cannot.
    std::function<bool(const std::string& full)> setUp;
  };
  const std::vector<Case> cases = {
      {"missing file", "missing.bin", [](const std::string&) { return true; }},
      {"directory", "d.bin", [](const std::string& p) { return mkdir(p.c_str(), 0755) == 0; }},
      {"FIFO", "p.bin", [](const std::string& p) { return mkfifo(p.c_str(), 0644) == 0; }},
      {"socket", "s.bin", makeSocket},
      {"character device", "/dev/null", [](const std::string&) { return true; }},
      {"a regular file taken as a folder", "f.bin/", [](const std::string&) { return true; }},
  };
  for (const Case& c : cases) {
    for (bool rename : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.name << (rename ? ", rename" : ", list"));
      ScratchDir dir;
      writeFile(dir.path("f.bin"), example);
      const std::string path = c.path[0] == '/' ? c.path : dir.path(c.path);
      ASSERT_TRUE(c.setUp(path));
      RunRequest request = rename ? renameRequest("brick01", "b") : listRequest();
      request.binPath = path;
      ChildRun run = runInChild(request);
      EXPECT_FALSE(run.hung) << "the run waited";
      EXPECT_EQ(run.output, "Unable to open " + path + "\n");
      EXPECT_EQ(run.status, 1);
      EXPECT_TRUE(readFile(dir.path("f.bin")) == example);
    }
  }
}

// The file is always opened for writing: one that the user may only read is
// refused in both modes.
TEST(PosixFile, ReadOnlyFileIsRefused) {
  std::vector<uint8_t> example = exampleBinFile();
  ScratchDir dir;
  const std::string path = dir.path("ro.bin");
  writeFile(path, example);
  // Anyone may reach and read the file; only writing it is denied.
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  for (bool rename : {false, true}) {
    RunRequest request = rename ? renameRequest("brick01", "b") : listRequest();
    request.binPath = path;
    ChildRun run = runInChild(request, /*asUnprivilegedUser=*/true);
    if (run.skipped) {
      GTEST_SKIP() << "running as root, and root's privileges cannot be dropped here: "
                      "root may write a read-only file";
    }
    EXPECT_EQ(run.output, "Unable to open " + path + "\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(readFile(path) == example);
  }
}

// Another holder keeps the tool off: a flock held by another process or by
// this one through another open of the file, or the tool's own open of it.
// Once let go, the tool renames, and lets go of the file when done.
TEST(PosixFile, FilesHeldByOthersAreRefusedAndUntouched) {
  // A descriptor that holds a flock, closed at the end; nullptr if it cannot.
  auto flockHere = [](const std::string& path, int operation) -> std::shared_ptr<void> {
    std::shared_ptr<int> fd(new int(open(path.c_str(), O_RDONLY)), [](int* held) {
      if (*held >= 0) close(*held);
      delete held;
    });
    return *fd >= 0 && flock(*fd, operation | LOCK_NB) == 0 ? fd : nullptr;
  };
  auto flockThere = [](const std::string& path, int operation) -> std::shared_ptr<void> {
    auto holder = std::make_shared<LockingProcess>(path, operation);
    return holder->locked() ? holder : nullptr;
  };
  struct Holder {
    const char* name;
    std::function<std::shared_ptr<void>(const std::string& path)> hold;
  };
  const std::vector<Holder> holders = {
      {"exclusive, another process", [&](const std::string& p) { return flockThere(p, LOCK_EX); }},
      {"shared, another process", [&](const std::string& p) { return flockThere(p, LOCK_SH); }},
      {"exclusive, this process", [&](const std::string& p) { return flockHere(p, LOCK_EX); }},
      {"shared, this process", [&](const std::string& p) { return flockHere(p, LOCK_SH); }},
      {"the tool's own open", [](const std::string& p) {
         return std::shared_ptr<void>(openPlatformFile(p.c_str()).release(),
                                      [](void* f) { delete static_cast<PlatformFile*>(f); });
       }},
  };
  // A second open asks the holder for the file: where the tool's own open
  // holds a lease, the system tells this process so with SIGIO.
  signal(SIGIO, SIG_IGN);
  std::vector<uint8_t> example = exampleBinFile();
  for (const Holder& holder : holders) {
    SCOPED_TRACE(holder.name);
    ScratchDir dir;
    const std::string path = dir.path("held.bin");
    writeFile(path, example);
    RunRequest request = renameRequest("brick01", "b");
    request.binPath = path;
    {
      std::shared_ptr<void> hold = holder.hold(path);
      ASSERT_TRUE(hold);
      CapturedOutput out;
      EXPECT_EQ(runTool(request, out.stream()), 1);
      EXPECT_EQ(out.text(), "Unable to open " + path + "\n");
    }
    // Read once the holder has let go: an open while the tool's own open
    // holds its lease would wait for the lease to be broken.
    EXPECT_TRUE(readFile(path) == example);
    CapturedOutput again;
    EXPECT_EQ(runTool(request, again.stream()), 0);
    EXPECT_EQ(again.text(), "Renamed 2 blocks\n");
    int fd = open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0) << "the tool still holds the file";
    close(fd);
  }
}

}  // namespace
}  // namespace velkor
