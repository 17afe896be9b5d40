// Helpers shared by the in-process tests: run the tool on bytes held in
// memory and capture what it prints.
#ifndef VELKOR_TESTS_TEST_SUPPORT_H_
#define VELKOR_TESTS_TEST_SUPPORT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "binfile/platform_file.h"
#include "binfile/run_request.h"
#include "support/test_files.h"

namespace velkor {

// Captures what is written to a FILE* in a temporary file.
class CapturedOutput {
 public:
  CapturedOutput();
  ~CapturedOutput();
  std::FILE* stream() { return file_; }
  std::string text();

 private:
  std::FILE* file_;
};

struct RunOutcome {
  int status = -1;
  std::string output;
  std::shared_ptr<FileState> state;  // the file's bytes afterwards, and its log
};

constexpr char kTestPath[] = "t.bin";

RunRequest listRequest();
RunRequest renameRequest(const std::string& oldName, const std::string& newName);

// Runs the tool on `bytes` through an in-memory file. failAt numbers the
// operation that fails (0: none).
RunOutcome runOnBytes(const std::vector<uint8_t>& bytes, const RunRequest& request,
                      int64_t failAt = 0, size_t failingWriteAccepts = 0);

// A scratch folder of its own, removed with its contents at the end.
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

void writeWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readWholeFile(const std::string& path);

// Runs the tool on `bytes` written to a real file, opened by the platform's
// backend and wrapped in a FaultyFile. The outcome's state holds the file's
// bytes afterwards and the log.
RunOutcome runOnRealFile(const std::vector<uint8_t>& bytes, const RunRequest& request,
                         int64_t failAt = 0, size_t failingWriteAccepts = 0);

}  // namespace velkor

#endif  // VELKOR_TESTS_TEST_SUPPORT_H_
