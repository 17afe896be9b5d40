#include "binfile/block_walk.h"

#include <cinttypes>
#include <cstring>
#include <utility>

namespace velkor {
namespace {

constexpr char kTextureLinePrefix[] = "Found texture: ";
constexpr size_t kTextureLinePrefixLength = sizeof(kTextureLinePrefix) - 1;

void printIncomplete(std::FILE* out, uint64_t blockStart) {
  std::fprintf(out, "Found incomplete block at %" PRIx64 ", leaving\n", blockStart);
}

// Maps a failed read or skip inside the block stream to how the walk ends.
WalkEnd failedWalk(IoResult r, uint64_t blockStart, const char* binPath,
                   std::FILE* out) {
  switch (r) {
    case IoResult::kEnd:
      printIncomplete(out, blockStart);
      return WalkEnd::kIncomplete;
    case IoResult::kWriteError:
      std::fprintf(out, "Unable to write %s\n", binPath);
      return WalkEnd::kWriteFailed;
    default:
      std::fprintf(out, "Unable to read %s\n", binPath);
      return WalkEnd::kReadFailed;
  }
}

// Reads the prologue and passes over the items after it. On success
// *recordCount holds the prologue's count.
IoResult readPrologue(BinFile& file, int32_t* recordCount, bool* versionOk) {
  uint8_t prologue[kBinPrologueSize];
  *versionOk = false;
  IoResult r = file.read(prologue, kWordSize);
  if (r != IoResult::kOk) return r;
  if (decodeU32(prologue) != kBinVersion) return IoResult::kOk;
  *versionOk = true;
  r = file.read(prologue + kWordSize, kBinPrologueSize - kWordSize);
  if (r != IoResult::kOk) return r;
  *recordCount = decodeI32(prologue + kRecordCountOffset);
  return file.skip(itemBytes(*recordCount, kItemRecordSize));
}

}  // namespace

IoResult TextureLister::onTexture(const uint8_t* record, BinFile&) {
  // The line is "Found texture: %s\n", put together without a format parse:
  // the whole name field is copied, and the newline lands right after the
  // name, over whatever of the field followed it.
  constexpr size_t kLongestLine = kTextureLinePrefixLength + kRawNameFieldSize + 1;
  if (kLineBufferSize - used_ < kLongestLine) writeLines();
  // used_ is kept in a local: the stores into the line below could alias it.
  const size_t used = used_;
  char* line = lines_ + used;
  std::memcpy(line, kTextureLinePrefix, kTextureLinePrefixLength);
  std::memcpy(line + kTextureLinePrefixLength, record + kRawNameOffset, kRawNameFieldSize);
  const size_t length = recordRawNameLength(record);
  line[kTextureLinePrefixLength + length] = '\n';
  used_ = used + kTextureLinePrefixLength + length + 1;
  return IoResult::kOk;
}

void TextureLister::writeLines() {
  // A failed write leaves the stream's error flag set; the caller that owns
  // the stream decides what that means.
  if (used_ > 0) std::fwrite(lines_, 1, used_, out_);
  used_ = 0;
}

void TextureLister::report(const BinFile&) {}

IoResult TextureRenamer::onTexture(const uint8_t* record, BinFile& file) {
  if (!recordRawNameEquals(record, oldRawName_.data(), oldRawName_.size())) return IoResult::kOk;
  TextureRecord renamed;
  std::memcpy(renamed.bytes(), record, kTextureRecordSize);
  renamed.storeRawName(newRawName_.data(), newRawName_.size());
  return file.rewrite(renamed.bytes(), kTextureRecordSize);
}

void TextureRenamer::report(const BinFile& closedFile) {
  std::fprintf(out_, "Renamed %" PRIi64 " blocks\n", closedFile.rewritesAccepted());
}

namespace {

// Where and why the block loop stopped: at an end block or an unknown block
// (result kOk), or on a failed read, skip or texture action.
struct WalkStop {
  IoResult result;
  uint64_t blockStart;
  uint32_t type;
};

// How one block went.
enum class BlockStep {
  kNext,         // handled or passed over; the next block follows
  kStop,         // the walk ends here, as the WalkStop says
  kNotBuffered,  // the block does not lie wholly in the buffer: not taken
};

// The block stream read through the file, which refills its buffer as
// needed. Every failure is final.
class FileBlocks {
 public:
  explicit FileBlocks(BinFile& file) : file_(file) {}
  uint64_t position() const { return file_.position(); }
  IoResult view(size_t n, const uint8_t** bytes) { return file_.view(n, bytes); }
  IoResult skip(uint64_t n) { return file_.skip(n); }
  BlockStep viewFailed(IoResult r, uint64_t blockStart, uint32_t type, WalkStop* stop) {
    *stop = {r, blockStart, type};
    return BlockStep::kStop;
  }
  void syncFile() {}

 private:
  BinFile& file_;
};

// The block stream as far as the buffer already holds it, with the position
// kept in a local: a run of small blocks costs no call and no trip through
// memory per block. A block that does not lie wholly in the buffer is put
// back, to be taken through FileBlocks. Skips are checked against the
// file's size exactly as the file checks them.
class BufferedBlocks {
 public:
  explicit BufferedBlocks(BinFile& file)
      : file_(file), start_(file.position()), pos_(start_), size_(file.size()) {
    length_ = file.buffered(&data_);
  }
  uint64_t position() const { return pos_; }
  IoResult view(size_t n, const uint8_t** bytes) {
    const uint64_t offset = pos_ - start_;
    if (offset > length_ || length_ - offset < n) return IoResult::kEnd;
    *bytes = data_ + static_cast<size_t>(offset);
    pos_ += n;
    return IoResult::kOk;
  }
  IoResult skip(uint64_t n) {
    if (pos_ > size_ || n > size_ - pos_) return IoResult::kEnd;
    pos_ += n;
    return IoResult::kOk;
  }
  BlockStep viewFailed(IoResult, uint64_t blockStart, uint32_t, WalkStop*) {
    pos_ = blockStart;
    return BlockStep::kNotBuffered;
  }
  // Brings the file's position to this one's, as the texture action and
  // the next reads through the file expect.
  void syncFile() { file_.advanceTo(pos_); }

 private:
  BinFile& file_;
  const uint8_t* data_ = nullptr;  // the buffered byte at start_
  size_t length_ = 0;
  const uint64_t start_;
  uint64_t pos_;
  const uint64_t size_;
};

// Takes the block at the position of `blocks`. perRecordBody is the size of
// a per-record block after its type word.
template <typename Blocks, typename Action>
inline BlockStep walkBlock(Blocks& blocks, uint64_t perRecordBody, Action& action,
                           BinFile& file, WalkStop* stop) {
  const uint64_t blockStart = blocks.position();
  const uint8_t* bytes;
  IoResult r = blocks.view(kWordSize, &bytes);
  if (r != IoResult::kOk) return blocks.viewFailed(r, blockStart, 0, stop);
  const uint32_t type = decodeU32(bytes);
  switch (classifyBlockType(type)) {
    case BlockKind::kEnd:
    case BlockKind::kUnknown:
      *stop = {IoResult::kOk, blockStart, type};
      return BlockStep::kStop;
    case BlockKind::kPerRecord:
      r = blocks.skip(perRecordBody);
      break;
    case BlockKind::kTexture:
      r = blocks.view(kTextureRecordSize, &bytes);
      if (r != IoResult::kOk) return blocks.viewFailed(r, blockStart, type, stop);
      blocks.syncFile();
      r = action.onTexture(bytes, file);
      break;
    case BlockKind::kCounted:
      r = blocks.view(kCountedHeadSize, &bytes);
      if (r != IoResult::kOk) return blocks.viewFailed(r, blockStart, type, stop);
      r = blocks.skip(itemBytes(decodeI32(bytes), kItemRecordSize));
      break;
    case BlockKind::kCountedWords:
      r = blocks.view(kCountedHeadSize, &bytes);
      if (r != IoResult::kOk) return blocks.viewFailed(r, blockStart, type, stop);
      r = blocks.skip(itemBytes(decodeI32(bytes), kCountedWordSize));
      break;
  }
  if (r == IoResult::kOk) return BlockStep::kNext;
  *stop = {r, blockStart, type};
  return BlockStep::kStop;
}

template <typename Action>
WalkStop walkToStop(BinFile& file, int32_t recordCount, Action& action) {
  const uint64_t perRecordBody =
      itemBytes(recordCount, kItemRecordSize) + kPerRecordTailSize;
  WalkStop stop{};
  for (;;) {
    // As many blocks as the buffer holds, then the one that it does not
    // hold in full, through the file.
    BufferedBlocks buffered(file);
    BlockStep step;
    do {
      step = walkBlock(buffered, perRecordBody, action, file, &stop);
    } while (step == BlockStep::kNext);
    buffered.syncFile();
    if (step == BlockStep::kStop) return stop;
    FileBlocks direct(file);
    if (walkBlock(direct, perRecordBody, action, file, &stop) == BlockStep::kStop) return stop;
  }
}

}  // namespace

WalkEnd walkBlocks(BinFile& file, int32_t recordCount, TextureAction& action,
                   const char* binPath, std::FILE* out) {
  // The tool's own two actions get a loop each, with their texture call
  // made directly; any other action is called through the base class.
  WalkStop stop;
  if (auto* lister = dynamic_cast<TextureLister*>(&action)) {
    stop = walkToStop(file, recordCount, *lister);
  } else if (auto* renamer = dynamic_cast<TextureRenamer*>(&action)) {
    stop = walkToStop(file, recordCount, *renamer);
  } else {
    stop = walkToStop(file, recordCount, action);
  }
  // Lines the action held back come before the walk's own message.
  action.endOfWalk();
  if (stop.result != IoResult::kOk) return failedWalk(stop.result, stop.blockStart, binPath, out);
  if (classifyBlockType(stop.type) == BlockKind::kEnd) return WalkEnd::kEndMarker;
  std::fprintf(out, "Found unknown %x block at %" PRIx64 ", leaving\n",
               static_cast<unsigned>(stop.type), stop.blockStart);
  return WalkEnd::kUnknownBlock;
}

int runTool(const RunRequest& request, std::FILE* out) {
  return runTool(request, openPlatformFile(request.binPath.c_str()), out);
}

int runTool(const RunRequest& request, std::unique_ptr<PlatformFile> platformFile,
            std::FILE* out) {
  const char* binPath = request.binPath.c_str();
  if (!platformFile) {
    std::fprintf(out, "Unable to open %s\n", binPath);
    return 1;
  }
  TextureLister lister(out);
  TextureRenamer renamer(request.oldRawName, request.newRawName, out);
  TextureAction& action =
      request.mode == RunMode::kRename ? static_cast<TextureAction&>(renamer) : lister;

  BinFile file(std::move(platformFile));
  int32_t recordCount = 0;
  bool versionOk = false;
  IoResult r = file.start();
  if (r == IoResult::kOk) r = readPrologue(file, &recordCount, &versionOk);
  if (r == IoResult::kOk && !versionOk) r = IoResult::kEnd;
  if (r != IoResult::kOk) {
    // Nothing was walked, so there is nothing to report.
    if (r == IoResult::kEnd) {
      file.close();
      std::fprintf(out, "%s is not a valid BIN file\n", binPath);
    } else {
      std::fprintf(out, "Unable to read %s\n", binPath);
      file.close();
    }
    return 1;
  }

  WalkEnd end = walkBlocks(file, recordCount, action, binPath, out);
  int status =
      (end == WalkEnd::kEndMarker || end == WalkEnd::kUnknownBlock) ? 0 : 1;
  // After a failed write-back nothing more is written: the position the
  // system holds can no longer be trusted.
  if (end != WalkEnd::kWriteFailed && file.finish() != IoResult::kOk) {
    std::fprintf(out, "Unable to write %s\n", binPath);
    status = 1;
  }
  file.close();
  action.report(file);
  return status;
}

}  // namespace velkor
