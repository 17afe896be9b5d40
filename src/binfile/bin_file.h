// BinFile: the open BIN file as the walk sees it. Reads go ahead into one
// fixed buffer, and the walk takes the bytes where they lie in it; bytes
// that need no reading are never read. Writes go straight to the file, one
// system request each, at the offset given. Memory is the buffer and
// nothing more, whatever the file's size.
#ifndef VELKOR_BINFILE_BIN_FILE_H_
#define VELKOR_BINFILE_BIN_FILE_H_

#include <cstddef>
#include <cstdint>
#include <memory>

#include "binfile/platform_file.h"

namespace velkor {

enum class IoResult {
  kOk,
  kEnd,          // the file ends before the bytes that were needed
  kReadError,    // the system failed a read or a size query
  kWriteError,   // the system failed or cut short a write, or the flush
  kOutputError,  // standard output could not take what was printed
  kStopped,      // the process asked the run to stop
};

class BinFile {
 public:
  static constexpr size_t kBufferSize = 128 * 1024;

  // Takes ownership of an open file. REQUIRES: file != nullptr.
  explicit BinFile(std::unique_ptr<PlatformFile> file);
  BinFile(const BinFile&) = delete;
  BinFile& operator=(const BinFile&) = delete;
  // Closes the file if close() has not been called.
  ~BinFile();

  // Learns the file's length. Call once, before anything else.
  IoResult start();
  uint64_t size() const { return size_; }

  // Points *bytes at the file's bytes from `offset` on, where they lie in
  // the buffer, and sets *got to how many of them it holds: at least n, or
  // fewer only where the file ends first (0 at or past its end). They stay
  // valid, and unchanged, until the next peek(). kReadError if the system
  // failed the read before it gave the bytes asked for (or those of them
  // the file holds); an error further on, in the read-ahead, is not one.
  // REQUIRES: n <= kBufferSize.
  IoResult peek(uint64_t offset, size_t n, const uint8_t** bytes, size_t* got);

  // Writes the n bytes at src over the n bytes at `offset`, with one
  // request, after checking that the file still holds them: a file shorter
  // than offset + n is not written (kWriteError), so that no write makes it
  // longer. kWriteError unless the system accepted all n; if it accepted
  // only part, that part is written back with the bytes the last peek()
  // read there, so the file holds either all n new bytes or the old ones
  // (unless that repair fails too). The buffer keeps the bytes it read.
  // REQUIRES: start() succeeded; the last peek() gave the n bytes at
  // `offset`.
  IoResult write(uint64_t offset, const uint8_t* src, size_t n);

  // If anything was written, forces the file's data to the storage device.
  IoResult flushWrites();

  // Closes the file. Safe to call more than once. An error the system
  // reports here is not the run's: what was written was flushed before.
  void close();

 private:
  // Writes the n bytes the buffer holds for `offset` back to the file.
  // False if the system would not take them all.
  bool restore(uint64_t offset, size_t n);

  std::unique_ptr<PlatformFile> file_;
  std::unique_ptr<uint8_t[]> buf_;
  uint64_t bufStart_ = 0;  // file offset of buf_[0]
  size_t bufLen_ = 0;      // bytes of buf_ read from the file
  uint64_t size_ = 0;
  bool written_ = false;   // some bytes reached the file
};

}  // namespace velkor

#endif  // VELKOR_BINFILE_BIN_FILE_H_
