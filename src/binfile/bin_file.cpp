#include "binfile/bin_file.h"

#include <algorithm>
#include <cassert>
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
    bufLen_ = read;
    // An error past the bytes asked for (a bad sector after the end block,
    // say) is met only if the walk ever needs those bytes.
    if (!ok && read < want) return IoResult::kReadError;
  }
  // A file that has shrunk since start() gives fewer bytes: the walk then
  // finds its blocks cut short.
  const size_t from = static_cast<size_t>(offset - bufStart_);
  *bytes = buf_.get() + from;
  *got = bufLen_ - from;
  return IoResult::kOk;
}

IoResult BinFile::write(uint64_t offset, const uint8_t* src, size_t n) {
  assert(offset >= bufStart_ && offset - bufStart_ <= bufLen_ &&
         bufLen_ - (offset - bufStart_) >= n);
  // A file another program has shortened since is not grown back.
  uint64_t now = 0;
  if (!file_->lengthFixed() && (!file_->size(&now) || now < offset || now - offset < n)) {
    return IoResult::kWriteError;
  }
  size_t written = 0;
  const bool ok = file_->writeAt(offset, src, n, &written);
  if (written > 0) written_ = true;
  if (ok) return file_->wroteLate() ? IoResult::kWrittenLate : IoResult::kOk;
  // The system took only part (a full disk, a file-size limit): the bytes
  // it took are put back as they were read, so that the record is wholly
  // old. That space is the file's already, so this needs no new space.
  const uint8_t* old = buf_.get() + (offset - bufStart_);
  for (size_t done = 0, put = 0; done < written; done += put) {
    put = 0;
    file_->writeAt(offset + done, old + done, written - done, &put);
    if (put == 0) break;  // the repair failed too
  }
  return IoResult::kWriteError;
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
