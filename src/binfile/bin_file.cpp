#include "binfile/bin_file.h"

#include <algorithm>
#include <utility>

namespace velkor {

BinFile::BinFile(std::unique_ptr<PlatformFile> file)
    : file_(std::move(file)), buf_(new uint8_t[kBufferSize]) {}

BinFile::~BinFile() { close(); }

IoResult BinFile::start() {
  return file_->size(&size_) ? IoResult::kOk : IoResult::kReadError;
}

IoResult BinFile::peek(uint64_t offset, size_t n, const uint8_t** bytes, size_t* got) {
  if (offset >= size_) {
    *got = 0;
    return IoResult::kOk;
  }
  const size_t want = static_cast<size_t>(std::min<uint64_t>(n, size_ - offset));
  // An offset before the buffer wraps around to a large value: read afresh.
  const uint64_t at = offset - bufStart_;
  if (at > bufLen_ || bufLen_ - at < want) {
    // Not all in the buffer: read from the offset on, as much as the
    // buffer holds and the file has.
    const size_t length = static_cast<size_t>(std::min<uint64_t>(kBufferSize, size_ - offset));
    size_t read = 0;
    const bool ok = file_->readAt(offset, buf_.get(), length, &read);
    bufStart_ = offset;
    bufLen_ = ok ? read : 0;
    if (!ok) return IoResult::kReadError;
  }
  // A file that has shrunk since start() gives fewer bytes: the walk then
  // finds its blocks cut short.
  const size_t from = static_cast<size_t>(offset - bufStart_);
  *bytes = buf_.get() + from;
  *got = bufLen_ - from;
  return IoResult::kOk;
}

IoResult BinFile::write(uint64_t offset, const uint8_t* src, size_t n) {
  size_t written = 0;
  const bool ok = file_->writeAt(offset, src, n, &written);
  if (written > 0) written_ = true;
  return ok && written == n ? IoResult::kOk : IoResult::kWriteError;
}

IoResult BinFile::flushWrites() {
  return !written_ || file_->flush() ? IoResult::kOk : IoResult::kWriteError;
}

void BinFile::close() {
  if (!file_) return;
  file_->close();
  file_.reset();
}

}  // namespace velkor
