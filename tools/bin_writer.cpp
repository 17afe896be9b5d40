#include "bin_writer.h"

#include <algorithm>
#include <cstring>

namespace velkor {

const uint32_t kCountedBlockTypes[7] = {14, 17, 24, 41, 51, 52, 65};

namespace {
constexpr size_t kFlushAt = 1 << 20;
}

void BinWriter::append(const uint8_t* data, size_t n) {
  offset_ += n;
  if (memory_) {
    memory_->insert(memory_->end(), data, data + n);
    return;
  }
  pending_.insert(pending_.end(), data, data + n);
  if (pending_.size() >= kFlushAt) {
    if (std::fwrite(pending_.data(), 1, pending_.size(), file_) != pending_.size()) ok_ = false;
    pending_.clear();
  }
}

BinWriter& BinWriter::word(uint32_t value) {
  uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                  static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  append(b, 4);
  return *this;
}

BinWriter& BinWriter::bytes(const void* data, size_t n) {
  append(static_cast<const uint8_t*>(data), n);
  return *this;
}

BinWriter& BinWriter::items(uint64_t n) {
  uint8_t chunk[4096];
  for (size_t i = 0; i < sizeof chunk; ++i) chunk[i] = static_cast<uint8_t>(0x11 + i % 13);
  while (n > 0) {
    size_t take = static_cast<size_t>(std::min<uint64_t>(n, sizeof chunk));
    append(chunk, take);
    n -= take;
  }
  return *this;
}

BinWriter& BinWriter::hole(uint64_t n) {
  if (memory_) {
    memory_->resize(memory_->size() + static_cast<size_t>(n), 0);
    offset_ += n;
    return *this;
  }
  finish();
  // The hole becomes part of the file once something is written after it.
  if (fseeko(file_, static_cast<off_t>(n), SEEK_CUR) != 0) ok_ = false;
  offset_ += n;
  return *this;
}

BinWriter& BinWriter::prologue(int32_t recordCount, uint32_t version) {
  word(version).word(0x11111111).word(0x22222222).word(0x33333333);
  word(static_cast<uint32_t>(recordCount));
  return items(recordCount > 0 ? static_cast<uint64_t>(recordCount) * 12 : 0);
}

BinWriter& BinWriter::texture(const std::string& name, uint32_t leadWord, uint8_t filler) {
  uint8_t field[16];
  std::memset(field, filler, sizeof field);
  size_t length = std::min<size_t>(name.size(), sizeof field);
  std::memcpy(field, name.data(), length);
  if (length < sizeof field) field[length] = 0;
  word(13).word(leadWord);
  return bytes(field, sizeof field);
}

BinWriter& BinWriter::perRecord(int32_t recordCount) {
  word(3);
  items(recordCount > 0 ? static_cast<uint64_t>(recordCount) * 12 : 0);
  return word(0xaaaaaaaa).word(0xbbbbbbbb);
}

BinWriter& BinWriter::counted(uint32_t type, int32_t itemCount, bool sparse) {
  word(type).word(static_cast<uint32_t>(itemCount));
  word(0x44444444).word(0x55555555).word(0x66666666).word(0x77777777);
  uint64_t n = itemCount > 0 ? static_cast<uint64_t>(itemCount) * 12 : 0;
  return sparse ? hole(n) : items(n);
}

BinWriter& BinWriter::countedWords(int32_t itemCount) {
  word(25).word(static_cast<uint32_t>(itemCount));
  word(0x44444444).word(0x55555555).word(0x66666666).word(0x77777777);
  return items(itemCount > 0 ? static_cast<uint64_t>(itemCount) * 4 : 0);
}

bool BinWriter::finish() {
  if (file_ && !pending_.empty()) {
    if (std::fwrite(pending_.data(), 1, pending_.size(), file_) != pending_.size()) ok_ = false;
    pending_.clear();
  }
  if (file_ && std::fflush(file_) != 0) ok_ = false;
  return ok_;
}

std::vector<uint8_t> exampleBinFile() {
  std::vector<uint8_t> bytes;
  BinWriter w(&bytes);
  w.prologue(2)
      .texture("brick01")
      .counted(14, 3)
      .texture("wall_stone")
      .perRecord(2)
      .countedWords(5)
      .texture("brick01")
      .counted(65, 1)
      .texture("door_oak")
      .endBlock();
  return bytes;
}

}  // namespace velkor
