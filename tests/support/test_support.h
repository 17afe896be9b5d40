// What the test programs and the fuzz check share: files read and written
// whole, a scratch folder, shell quoting, captured output, another process
// that holds a file, and runs of the tool on bytes held in memory or in a
// real file.
#ifndef VELKOR_TESTS_SUPPORT_TEST_SUPPORT_H_
#define VELKOR_TESTS_SUPPORT_TEST_SUPPORT_H_

#include <cstdint>
#include <sys/types.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bin_writer.h"
#include "binfile/run_request.h"
#include "support/test_files.h"

namespace velkor {

// The file's bytes; none if it cannot be read.
std::vector<uint8_t> readFile(const std::string& path);
std::string readText(const std::string& path);
// Throws if the bytes cannot all be written.
void writeFile(const std::string& path, const std::vector<uint8_t>& bytes);

// `s` as one word for sh, whatever it holds.
std::string shellQuote(const std::string& s);

// The line of a walk that stops at `offset`: at an unknown block of type
// `unknownType`, or (-1) at an incomplete one.
std::string stopLine(uint64_t offset, int64_t unknownType = -1);

// A file made by `fill` in memory.
std::vector<uint8_t> binOf(const std::function<void(BinWriter&)>& fill);

// Seven textures (four named "abc") around a counted block larger than the
// walk's read buffer (128 KiB), so that a run reads the file twice: the
// second read, and the third write of a rename, are the first ones past it.
struct TestFile {
  std::vector<uint8_t> bytes;
  std::vector<size_t> matchNames;  // offsets of the name fields of "abc"
};
TestFile makeTestFile();

// A folder of its own under the system's temporary folder (TMPDIR), by its
// canonical path, removed with its contents at the end.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return dir_; }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

// What is written to stream(), kept in a temporary file.
class CapturedOutput {
 public:
  CapturedOutput();
  ~CapturedOutput();
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;
  std::FILE* stream() { return file_; }
  std::string text();

 private:
  std::FILE* file_;
};

// Another process: it runs `act`, then keeps what act took (a lock, an open
// file) until this is destroyed. act tells the test what it found through
// the descriptor it is given; word() returns that once act has returned.
class OtherProcess {
 public:
  explicit OtherProcess(const std::function<bool(int to)>& act);
  ~OtherProcess();
  OtherProcess(const OtherProcess&) = delete;
  OtherProcess& operator=(const OtherProcess&) = delete;
  std::string word();

 private:
  pid_t pid_ = -1;
  int from_ = -1;
  int release_ = -1;
};

// Starts argv (argv[0] found on the PATH) in `dir`, standard input empty,
// output and error into the files `out` and `err` (output to the
// descriptor outFd instead, if given); `setup` runs in the new process just
// before, and gives the start up when it returns false. Returns the PID.
pid_t startProgram(std::vector<std::string> argv, const std::string& dir, const std::string& out,
                   const std::string& err, int outFd = -1, const std::function<bool()>& setup = {});
// The exit status of the process `pid` once it ends: -signal for one that a
// signal ended, -1000 if it cannot be waited for.
int exitStatus(pid_t pid);

// True when this process may take a write lease on the file at `path`
// (leases enabled, a file system that has them, the user owns the file).
bool leaseOnFilePossible(const std::string& path);

struct RunOutcome {
  int status = -1;
  std::string output;
  std::shared_ptr<FileState> state;  // the file's bytes afterwards, and its log
};

constexpr char kTestPath[] = "t.bin";

RunRequest listRequest();
RunRequest renameRequest(const std::string& oldName, const std::string& newName);

// Runs the tool on `bytes` through an in-memory file, wrapped in a
// FaultyFile that does wrong as `fault` says.
RunOutcome runOnBytes(const std::vector<uint8_t>& bytes, const RunRequest& request,
                      const Fault& fault = {});

// The same on `bytes` written to a real file, opened by the platform's
// backend and wrapped in a FaultyFile. The outcome's state holds the file's
// bytes afterwards and the log.
RunOutcome runOnRealFile(const std::vector<uint8_t>& bytes, const RunRequest& request,
                         const Fault& fault = {});

}  // namespace velkor

#endif  // VELKOR_TESTS_SUPPORT_TEST_SUPPORT_H_
