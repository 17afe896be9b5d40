// BinFile: the open BIN file as the walk sees it. It reads ahead into one
// fixed buffer, passes over bytes that need no reading by moving the
// position, and gathers rewrites of bytes just read into spans that it writes
// back with one call each. Memory is the buffer and nothing more, whatever
// the file's size.
#ifndef VELKOR_BINFILE_BIN_FILE_H_
#define VELKOR_BINFILE_BIN_FILE_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "binfile/platform_file.h"

namespace velkor {

enum class IoResult {
  kOk,
  kEnd,         // the file ends before the bytes asked for
  kReadError,   // the system failed a read, a move or a size query
  kWriteError,  // the system failed or cut short a write-back or the flush
};

class BinFile {
 public:
  static constexpr size_t kBufferSize = 128 * 1024;
  // Unchanged bytes that a write-back may carry between two rewrites.
  static constexpr uint64_t kMaxRewriteGap = 4096;
  // Rewrites gathered before they are written back regardless.
  static constexpr size_t kMaxPendingRewrites = 8192;

  // Takes ownership of an open file. REQUIRES: file != nullptr.
  explicit BinFile(std::unique_ptr<PlatformFile> file);
  BinFile(const BinFile&) = delete;
  BinFile& operator=(const BinFile&) = delete;
  // Closes the file if close() has not been called; rewrites still pending
  // are dropped, not written.
  ~BinFile();

  // Learns the file's length. Call once, before anything else.
  IoResult start();

  // Offset of the next byte that read() or skip() would take.
  uint64_t position() const { return pos_; }
  uint64_t size() const { return size_; }

  // Reads exactly n bytes at the position into dst and advances past them.
  // kEnd if the file ends first: then nothing is copied and the position is
  // unchanged. REQUIRES: n <= kBufferSize.
  IoResult read(uint8_t* dst, size_t n) {
    const uint8_t* bytes;
    IoResult r = view(n, &bytes);
    if (r == IoResult::kOk) std::memcpy(dst, bytes, n);
    return r;
  }

  // Reads exactly n bytes at the position and advances past them, as read()
  // does, but points *bytes at them where they lie in the buffer instead of
  // copying them. They stay there until the next read(), view() or finish().
  // REQUIRES: n <= kBufferSize.
  IoResult view(size_t n, const uint8_t** bytes) {
    // pos_ never lies before bufStart_, but may lie gigabytes past it after
    // a skip: compare in 64 bits before any narrowing.
    const uint64_t offset = pos_ - bufStart_;
    if (offset <= bufLen_ && bufLen_ - offset >= n) {
      *bytes = buf_.get() + static_cast<size_t>(offset);
      pos_ += n;
      return IoResult::kOk;
    }
    IoResult r = refill(n);
    if (r == IoResult::kOk) {
      *bytes = buf_.get();
      pos_ += n;
    }
    return r;
  }

  // For a loop that decodes many small items in a row without a call per
  // item: points *bytes at the bytes the buffer holds from the position on
  // and returns how many there are (0 when the position lies past them).
  // The loop moves the position with advanceTo(). The bytes stay where they
  // are until the next read(), view() or finish().
  size_t buffered(const uint8_t** bytes) const {
    const uint64_t offset = pos_ - bufStart_;
    if (offset >= bufLen_) return 0;
    *bytes = buf_.get() + static_cast<size_t>(offset);
    return bufLen_ - static_cast<size_t>(offset);
  }

  // Moves the position forward to `position`, with no check.
  // REQUIRES: position() <= position, and the bytes up to it were either
  // reported by buffered() or lie within size().
  void advanceTo(uint64_t position) { pos_ = position; }

  // Passes over n bytes without reading them. kEnd if fewer than n bytes
  // remain before the end of the file: the position is then unchanged.
  IoResult skip(uint64_t n) {
    if (pos_ > size_ || n > size_ - pos_) return IoResult::kEnd;
    pos_ += n;
    return IoResult::kOk;
  }

  // Replaces the n bytes just read (those ending at the position) with the
  // bytes at src. The write-back may be gathered with later ones; it is made
  // at the latest by the next read that leaves the buffer, or by finish().
  // kWriteError if writing back earlier rewrites failed; this rewrite is then
  // dropped. REQUIRES: the last call was a read() or view() of at least n bytes that
  // returned kOk, and nothing failed since.
  IoResult rewrite(const uint8_t* src, size_t n);

  // Writes back what rewrites are pending and, if any rewrite reached the
  // file, forces the file's data to the storage device.
  IoResult finish();

  // How many rewrites the system has accepted in full so far.
  int64_t rewritesAccepted() const { return rewritesAccepted_; }

  // Closes the file; pending rewrites are dropped. Returns false if the
  // system reported an error. Safe to call more than once.
  bool close();

 private:
  // Fills the buffer from the position on; kOk once it holds at least n
  // bytes, which then start at buf_[0].
  IoResult refill(size_t n);
  IoResult writeBack();
  bool moveTo(uint64_t offset);

  std::unique_ptr<PlatformFile> file_;
  std::unique_ptr<uint8_t[]> buf_;
  uint64_t bufStart_ = 0;  // file offset of buf_[0]
  size_t bufLen_ = 0;      // valid bytes in buf_
  uint64_t pos_ = 0;       // logical position
  uint64_t size_ = 0;
  uint64_t filePos_ = 0;   // where the system's position is, when known
  bool filePosKnown_ = true;

  // The dirty span [dirtyStart_, dirtyEnd_) lies within the buffer; the
  // rewrites in it end at pendingEnds_[0..pendingCount_).
  uint64_t dirtyStart_ = 0;
  uint64_t dirtyEnd_ = 0;
  size_t pendingCount_ = 0;
  std::unique_ptr<uint64_t[]> pendingEnds_;
  int64_t rewritesAccepted_ = 0;
};

}  // namespace velkor

#endif  // VELKOR_BINFILE_BIN_FILE_H_
