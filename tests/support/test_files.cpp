#include "support/test_files.h"

#include <algorithm>
#include <cstring>

namespace velkor {

bool MemoryFile::readAt(uint64_t offset, uint8_t* buf, size_t n, size_t* got) {
  const std::vector<uint8_t>& data = *data_;
  *got = offset >= data.size()
             ? 0
             : static_cast<size_t>(std::min<uint64_t>(n, data.size() - offset));
  if (*got > 0) std::memcpy(buf, data.data() + offset, *got);
  return true;
}

bool MemoryFile::writeAt(uint64_t offset, const uint8_t* buf, size_t n, size_t* written) {
  std::vector<uint8_t>& data = *data_;
  if (offset + n > data.size()) data.resize(static_cast<size_t>(offset + n));
  if (n > 0) std::memcpy(data.data() + offset, buf, n);
  *written = n;
  return true;
}

bool MemoryFile::size(uint64_t* size) {
  *size = data_->size();
  return true;
}

FaultyFile::~FaultyFile() {
  if (open_) close();
}

bool FaultyFile::fails(char kind) {
  state_->kinds.push_back(kind);
  return state_->operations() == state_->fault.at;
}

bool FaultyFile::readAt(uint64_t offset, uint8_t* buf, size_t n, size_t* got) {
  *got = 0;
  if (fails('r')) {
    const size_t kept = std::min(n, state_->fault.readKeeps);
    if (kept > 0) inner_->readAt(offset, buf, kept, got);
    return false;
  }
  const bool ok = inner_->readAt(offset, buf, n, got);
  state_->bytesRead += *got;
  return ok;
}

bool FaultyFile::writeAt(uint64_t offset, const uint8_t* buf, size_t n, size_t* written) {
  state_->writeLog.push_back({offset, n});
  const bool failing = fails('w');
  *written = 0;
  const size_t passed = failing ? std::min(n, state_->fault.writeAccepts) : n;
  const bool ok = passed == 0 || inner_->writeAt(offset, buf, passed, written);
  if (*written > 0) state_->writtenSinceFlush = true;
  return ok && !failing;
}

bool FaultyFile::size(uint64_t* size) {
  if (fails('z') || !inner_->size(size)) return false;
  *size += state_->fault.sizeSaysMore;
  return true;
}

bool FaultyFile::flush() {
  ++state_->flushes;
  if (fails('f') || !inner_->flush()) return false;
  state_->writtenSinceFlush = false;
  return true;
}

bool FaultyFile::close() {
  open_ = false;
  ++state_->closes;
  return inner_->close();
}

}  // namespace velkor
