#include "binfile/bin_file.h"

#include <utility>

namespace velkor {

BinFile::BinFile(std::unique_ptr<PlatformFile> file)
    : file_(std::move(file)),
      buf_(new uint8_t[kBufferSize]),
      pendingEnds_(new uint64_t[kMaxPendingRewrites]) {}

BinFile::~BinFile() { close(); }

IoResult BinFile::start() {
  uint64_t here;
  if (!file_->size(&size_) || !file_->seek(0, &here)) return IoResult::kReadError;
  filePos_ = here;
  pos_ = here;
  bufStart_ = here;
  return IoResult::kOk;
}

// Moves the system's position to `offset`, by a relative move from where it
// is (or is found to be, after a failure left it unknown).
bool BinFile::moveTo(uint64_t offset) {
  if (!filePosKnown_) {
    if (!file_->seek(0, &filePos_)) return false;
    filePosKnown_ = true;
  }
  if (filePos_ == offset) return true;
  // Both offsets lie within a file that the system holds, far below 2^63.
  int64_t distance = offset >= filePos_ ? static_cast<int64_t>(offset - filePos_)
                                        : -static_cast<int64_t>(filePos_ - offset);
  uint64_t reached;
  if (!file_->seek(distance, &reached) || reached != offset) {
    filePosKnown_ = false;
    return false;
  }
  filePos_ = reached;
  return true;
}

IoResult BinFile::refill(size_t n) {
  // The bytes are not all in the buffer: refill it from the position. What
  // is gathered for write-back goes first, as the buffer is about to change.
  if (pendingCount_ > 0) {
    IoResult r = writeBack();
    if (r != IoResult::kOk) return r;
  }
  if (pos_ >= size_) {
    // Nothing is left to read: no system call needed to learn that.
    if (n == 0) return IoResult::kOk;
    return IoResult::kEnd;
  }
  if (!moveTo(pos_)) return IoResult::kReadError;
  size_t got = 0;
  bool ok = file_->read(buf_.get(), kBufferSize, &got);
  bufStart_ = pos_;
  if (!ok) {
    bufLen_ = 0;
    filePosKnown_ = false;
    return IoResult::kReadError;
  }
  bufLen_ = got;
  filePos_ = pos_ + got;
  return got < n ? IoResult::kEnd : IoResult::kOk;
}

IoResult BinFile::rewrite(const uint8_t* src, size_t n) {
  uint64_t start = pos_ - n;
  if (pendingCount_ > 0 &&
      (start > dirtyEnd_ + kMaxRewriteGap || pendingCount_ == kMaxPendingRewrites)) {
    IoResult r = writeBack();
    if (r != IoResult::kOk) return r;
  }
  std::memcpy(buf_.get() + (start - bufStart_), src, n);
  if (pendingCount_ == 0) dirtyStart_ = start;
  dirtyEnd_ = pos_;
  pendingEnds_[pendingCount_++] = pos_;
  return IoResult::kOk;
}

IoResult BinFile::writeBack() {
  size_t count = pendingCount_;
  pendingCount_ = 0;
  if (!moveTo(dirtyStart_)) return IoResult::kWriteError;
  size_t length = static_cast<size_t>(dirtyEnd_ - dirtyStart_);
  size_t written = 0;
  bool ok = file_->write(buf_.get() + (dirtyStart_ - bufStart_), length, &written);
  if (written > length) written = length;
  // A rewrite counts once all of its bytes were accepted.
  uint64_t acceptedEnd = dirtyStart_ + written;
  for (size_t i = 0; i < count && pendingEnds_[i] <= acceptedEnd; ++i) ++rewritesAccepted_;
  if (!ok) {
    filePosKnown_ = false;
    return IoResult::kWriteError;
  }
  filePos_ = dirtyEnd_;
  return IoResult::kOk;
}

IoResult BinFile::finish() {
  if (pendingCount_ > 0) {
    IoResult r = writeBack();
    if (r != IoResult::kOk) return r;
  }
  if (rewritesAccepted_ > 0 && !file_->flush()) return IoResult::kWriteError;
  return IoResult::kOk;
}

bool BinFile::close() {
  if (!file_) return true;
  pendingCount_ = 0;
  bool ok = file_->close();
  file_.reset();
  return ok;
}

}  // namespace velkor
