// A PlatformFile held in memory, for tests and fuzzing. It can be told to
// fail its Nth operation, and it records what was done to it.
#ifndef VELKOR_BINFILE_MEMORY_FILE_H_
#define VELKOR_BINFILE_MEMORY_FILE_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "binfile/platform_file.h"

namespace velkor {

// Shared between the test and the file, so that it outlives the file.
struct MemoryFileState {
  std::vector<uint8_t> data;

  // Operations (read, seek, write, size, flush) are numbered from 1 in the
  // order they are called; the one numbered failAt fails (0: none fails).
  int64_t failAt = 0;
  // A failing write still accepts this many bytes first (capped at its size).
  size_t failingWriteAccepts = 0;

  // What was done.
  int64_t operations = 0;
  int64_t writes = 0;
  int64_t flushes = 0;
  int64_t closes = 0;
  uint64_t bytesRead = 0;
  bool writtenSinceFlush = false;
};

class MemoryFile final : public PlatformFile {
 public:
  explicit MemoryFile(std::shared_ptr<MemoryFileState> state) : state_(std::move(state)) {}
  ~MemoryFile() override;

  bool read(uint8_t* buf, size_t n, size_t* got) override;
  bool seek(int64_t distance, uint64_t* position) override;
  bool write(const uint8_t* buf, size_t n, size_t* written) override;
  bool size(uint64_t* size) override;
  bool flush() override;
  bool close() override;

 private:
  bool nextOperationFails();

  std::shared_ptr<MemoryFileState> state_;
  uint64_t position_ = 0;
  bool open_ = true;
};

}  // namespace velkor

#endif  // VELKOR_BINFILE_MEMORY_FILE_H_
