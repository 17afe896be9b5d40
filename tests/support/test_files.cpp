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

bool FaultyFile::fails(char kind, size_t* moves) {
  state_->kinds.push_back(kind);
  const Fault& f = state_->fault;
  const int64_t n = state_->operations();
  if (n == f.stopAt) state_->stopAsked = 1;
  if (moves) *moves = n == f.at ? f.moves : f.thenMoves;
  return n == f.at || n == f.thenAt;
}

bool FaultyFile::readAt(uint64_t offset, uint8_t* buf, size_t n, size_t* got) {
  *got = 0;
  size_t kept;
  if (fails('r', &kept)) {
    if (kept > 0) inner_->readAt(offset, buf, std::min(n, kept), got);
    return false;
  }
  const bool ok = inner_->readAt(offset, buf, n, got);
  state_->bytesRead += *got;
  return ok;
}

bool FaultyFile::writeAt(uint64_t offset, const uint8_t* buf, size_t n, size_t* written) {
  size_t moves;
  const bool failing = fails('w', &moves);
  const size_t passed = failing ? std::min(n, moves) : n;
  *written = 0;
  const bool ok = (passed == 0 || inner_->writeAt(offset, buf, passed, written)) && !failing;
  state_->writeLog.push_back({offset, n, *written, ok});
  if (*written > 0) state_->writtenSinceFlush = true;
  return ok;
}

bool FaultyFile::size(uint64_t* size) {
  if (fails('z') || !inner_->size(size)) return false;
  if (state_->operations() >= state_->fault.sizeFrom) *size += state_->fault.sizeSaysMore;
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
