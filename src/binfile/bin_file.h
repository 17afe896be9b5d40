// BinFile: the open BIN file as the walk sees it. Reads go ahead into one
// fixed buffer, where the walk takes the bytes; bytes it does not need are
// never read. Each write goes straight to the file, one system request at the
// offset given. Memory is the buffer alone, whatever the file's size.
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
  kWrittenLate,  // a write was made whole, but too late for the run to go on
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

  // Points *bytes at the file's bytes from `offset` on, in the buffer, and
  // sets *got to how many it holds: at least n, fewer only where the file
  // ends first (0 at or past its end); valid and unchanged until the next
  // peek(). kReadError if the system failed the read before it gave the
  // bytes asked for (or those the file holds); an error further on, in the
  // read-ahead, is none.
  // REQUIRES: n <= kBufferSize.
  IoResult peek(uint64_t offset, size_t n, const uint8_t** bytes, size_t* got);

  // Writes the n bytes at src over those at `offset` with one request,
  // unless the file no longer holds them (kWriteError: no write makes it
  // longer). kWriteError unless the system accepted all n; a part it took
  // is written back with the bytes the last peek() read there, so the file
  // holds all n new bytes or the old ones (unless that repair fails too).
  // kWrittenLate if the write was made, but the file says it came too late
  // (PlatformFile::wroteLate). The buffer keeps the bytes it read.
  // REQUIRES: start() succeeded; the last peek() gave the n bytes at `offset`.
  IoResult write(uint64_t offset, const uint8_t* src, size_t n);

  // If anything was written, forces the file's data to the storage device.
  IoResult flushWrites();

  // Closes the file. Safe to call more than once. An error the system
  // reports here is not the run's: what was written was flushed before.
  void close();

 private:
  std::unique_ptr<PlatformFile> file_;
  std::unique_ptr<uint8_t[]> buf_;
  uint64_t bufStart_ = 0;  // file offset of buf_[0]
  size_t bufLen_ = 0;      // bytes of buf_ read from the file
  uint64_t size_ = 0;
  bool written_ = false;   // some bytes reached the file
};

}  // namespace velkor

#endif  // VELKOR_BINFILE_BIN_FILE_H_
