#include "binfile/memory_file.h"

#include <algorithm>
#include <cstring>

namespace velkor {

MemoryFile::~MemoryFile() {
  if (open_) close();
}

bool MemoryFile::nextOperationFails() { return ++state_->operations == state_->failAt; }

bool MemoryFile::read(uint8_t* buf, size_t n, size_t* got) {
  *got = 0;
  if (nextOperationFails()) return false;
  const std::vector<uint8_t>& data = state_->data;
  if (position_ >= data.size()) return true;
  size_t take = static_cast<size_t>(std::min<uint64_t>(n, data.size() - position_));
  std::memcpy(buf, data.data() + position_, take);
  position_ += take;
  state_->bytesRead += take;
  *got = take;
  return true;
}

bool MemoryFile::seek(int64_t distance, uint64_t* position) {
  if (nextOperationFails()) return false;
  if (distance < 0 && static_cast<uint64_t>(-distance) > position_) return false;
  position_ += static_cast<uint64_t>(distance);
  *position = position_;
  return true;
}

bool MemoryFile::write(const uint8_t* buf, size_t n, size_t* written) {
  ++state_->writes;
  bool fails = nextOperationFails();
  size_t take = fails ? std::min(n, state_->failingWriteAccepts) : n;
  std::vector<uint8_t>& data = state_->data;
  if (position_ + take > data.size()) data.resize(static_cast<size_t>(position_ + take));
  std::memcpy(data.data() + position_, buf, take);
  position_ += take;
  *written = take;
  if (take > 0) state_->writtenSinceFlush = true;
  return !fails;
}

bool MemoryFile::size(uint64_t* size) {
  if (nextOperationFails()) return false;
  *size = state_->data.size();
  return true;
}

bool MemoryFile::flush() {
  ++state_->flushes;
  if (nextOperationFails()) return false;
  state_->writtenSinceFlush = false;
  return true;
}

bool MemoryFile::close() {
  open_ = false;
  ++state_->closes;
  return true;
}

}  // namespace velkor
