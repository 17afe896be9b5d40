// Files for tests and fuzzing: a plain file held in memory, and one wrapper
// around any file, in memory or real, that fails its Nth operation and
// records what was done to it. The tool's own code never knows of either.
#ifndef VELKOR_TESTS_SUPPORT_TEST_FILES_H_
#define VELKOR_TESTS_SUPPORT_TEST_FILES_H_

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "binfile/platform_file.h"

namespace velkor {

// One whole-record write as the wrapper saw it asked.
struct WriteRequest {
  uint64_t offset;
  size_t length;
};

// What the wrapper does wrong. Operations (readAt, writeAt, size, flush)
// are numbered from 1 in the order they are called; the one numbered `at`
// fails (0: none fails).
struct Fault {
  int64_t at = 0;
  size_t writeAccepts = 0;  // a failing write still passes these on (capped at its size)
  size_t readKeeps = 0;     // a failing read still reads these first (capped at its size)
  // size() says the file is this much longer than it is, as when another
  // program cut it short after the run learned its length.
  uint64_t sizeSaysMore = 0;
};

// Shared between a test and its file, so that it outlives the file.
struct FileState {
  // The file's bytes: those of the file in memory, or, after a run on a
  // real file, what it holds then.
  std::vector<uint8_t> data;
  Fault fault;

  // What was done.
  std::string kinds;  // one letter per operation: r(ead) w(rite) z (size) f(lush)
  std::vector<WriteRequest> writeLog;
  int64_t flushes = 0;
  int64_t closes = 0;
  uint64_t bytesRead = 0;
  bool writtenSinceFlush = false;

  int64_t operations() const { return static_cast<int64_t>(kinds.size()); }
  int64_t writes() const { return static_cast<int64_t>(writeLog.size()); }
};

// A plain file in memory: reads and writes `data`, which it shares.
class MemoryFile final : public PlatformFile {
 public:
  explicit MemoryFile(std::shared_ptr<std::vector<uint8_t>> data) : data_(std::move(data)) {}

  bool readAt(uint64_t offset, uint8_t* buf, size_t n, size_t* got) override;
  bool writeAt(uint64_t offset, const uint8_t* buf, size_t n, size_t* written) override;
  bool size(uint64_t* size) override;
  bool flush() override { return true; }
  bool close() override { return true; }

 private:
  std::shared_ptr<std::vector<uint8_t>> data_;
};

// Wraps a file, does wrong as state->fault says, and logs every operation
// in `state`.
class FaultyFile final : public PlatformFile {
 public:
  FaultyFile(std::unique_ptr<PlatformFile> inner, std::shared_ptr<FileState> state)
      : inner_(std::move(inner)), state_(std::move(state)) {}
  ~FaultyFile() override;

  bool readAt(uint64_t offset, uint8_t* buf, size_t n, size_t* got) override;
  bool writeAt(uint64_t offset, const uint8_t* buf, size_t n, size_t* written) override;
  bool size(uint64_t* size) override;
  bool lengthFixed() override { return inner_->lengthFixed(); }
  bool flush() override;
  bool close() override;

 private:
  bool fails(char kind);

  std::unique_ptr<PlatformFile> inner_;
  std::shared_ptr<FileState> state_;
  bool open_ = true;
};

}  // namespace velkor

#endif  // VELKOR_TESTS_SUPPORT_TEST_FILES_H_
