// Files for tests and fuzzing: a plain file held in memory, and one wrapper
// around any file, in memory or real, that fails its Nth operations, lies
// about its length, asks the run to stop, and records what was done to it.
// The tool's own code never knows of either.
#ifndef VELKOR_TESTS_SUPPORT_TEST_FILES_H_
#define VELKOR_TESTS_SUPPORT_TEST_FILES_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "binfile/platform_file.h"

namespace velkor {

// One write as the wrapper saw it asked, and what came of it.
struct WriteRequest {
  uint64_t offset;
  size_t length;
  size_t passed = 0;  // bytes the file took
  bool ok = false;
};

// What goes wrong in a run. The wrapper's operations (readAt, writeAt,
// size, flush) are numbered from 1 in the order they are called.
struct Fault {
  int64_t at = 0;    // this operation fails (0: none)
  size_t moves = 0;  // a failing read still reads, a failing write still passes on, this many bytes first
  // size() says the file is this much longer than it is, as when another
  // program cut it short after the run learned its length (negative: this
  // much shorter, as when it cuts it short now), from operation sizeFrom on.
  int64_t sizeSaysMore = 0;
  int64_t sizeFrom = 0;
  // A second operation that fails, moving thenMoves bytes (right after a failing write: its repair).
  int64_t thenAt = 0;
  size_t thenMoves = 0;
  int64_t stopAt = 0;        // at this operation the process asks the run to stop
  bool outputFails = false;  // standard output takes nothing (/dev/full)
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
  std::atomic<int> stopAsked{0};  // the run's stop request
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

// Wraps a file, does wrong as state->fault says (all but the output), and
// logs every operation in `state`.
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
  // Logs the operation; true if it is to fail, moving *moves bytes first.
  bool fails(char kind, size_t* moves = nullptr);

  std::unique_ptr<PlatformFile> inner_;
  std::shared_ptr<FileState> state_;
  bool open_ = true;
};

}  // namespace velkor

#endif  // VELKOR_TESTS_SUPPORT_TEST_FILES_H_
