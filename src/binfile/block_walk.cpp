#include "binfile/block_walk.h"

#include <algorithm>
#include <cinttypes>
#include <cstddef>
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

// Puts "Found texture: %s\n" for the record at `record` at `line`, without
// a format parse, and returns its length: the whole name field is copied,
// and the newline lands right after the name, over whatever of the field
// followed it. REQUIRES: kLongestTextureLine bytes writable at line.
constexpr size_t kLongestTextureLine = kTextureLinePrefixLength + kRawNameFieldSize + 1;
inline size_t putTextureLine(char* line, const uint8_t* record) {
  std::memcpy(line, kTextureLinePrefix, kTextureLinePrefixLength);
  std::memcpy(line + kTextureLinePrefixLength, record + kRawNameOffset, kRawNameFieldSize);
  const size_t length = recordRawNameLength(record);
  line[kTextureLinePrefixLength + length] = '\n';
  return kTextureLinePrefixLength + length + 1;
}

}  // namespace

IoResult TextureLister::onTexture(const uint8_t* record, BinFile&) {
  if (kLineBufferSize - used_ < kLongestTextureLine) writeLines();
  used_ += putTextureLine(lines_ + used_, record);
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

// Takes the block at the file's position through the file, which refills
// its buffer as needed. Returns false, with *stop set, when the walk ends
// at this block.
template <typename Action>
bool takeBlock(BinFile& file, int32_t recordCount, Action& action, WalkStop* stop) {
  const uint64_t blockStart = file.position();
  const uint8_t* bytes;
  IoResult r = file.view(kWordSize, &bytes);
  if (r != IoResult::kOk) {
    *stop = {r, blockStart, 0};
    return false;
  }
  const uint32_t type = decodeU32(bytes);
  switch (classifyBlockType(type)) {
    case BlockKind::kEndBlock:
    case BlockKind::kUnknownBlock:
      *stop = {IoResult::kOk, blockStart, type};
      return false;
    case BlockKind::kPerRecordBlock:
      r = file.skip(itemBytes(recordCount, kItemRecordSize) + kPerRecordTailSize);
      break;
    case BlockKind::kTextureBlock:
      r = file.view(kTextureRecordSize, &bytes);
      if (r == IoResult::kOk) r = action.onTexture(bytes, file);
      break;
    case BlockKind::kCountedBlock:
      r = file.view(kCountedHeadSize, &bytes);
      if (r == IoResult::kOk) r = file.skip(itemBytes(decodeI32(bytes), kItemRecordSize));
      break;
    case BlockKind::kCountedWordBlock:
      r = file.view(kCountedHeadSize, &bytes);
      if (r == IoResult::kOk) r = file.skip(itemBytes(decodeI32(bytes), kCountedWordSize));
      break;
  }
  if (r == IoResult::kOk) return true;
  *stop = {r, blockStart, type};
  return false;
}

// The bytes at a block's start that decide how large it is: the type word
// and, at most, a counted head or a texture record.
constexpr size_t kLongestBlockStart = kWordSize + kCountedHeadSize;
static_assert(kCountedHeadSize == kTextureRecordSize, "both follow the type word");

// How the loop over buffered blocks calls the texture action: as is, for
// any action but the lister.
template <typename Action>
class TextureCalls {
 public:
  explicit TextureCalls(Action& action) : action_(action) {}
  IoResult onTexture(const uint8_t* record, BinFile& file) {
    return action_.onTexture(record, file);
  }

 private:
  Action& action_;
};

}  // namespace

// The lister's texture call for a run of textures taken from the buffer.
// Where a line goes in the lister's buffer depends on the lengths of all the
// names before it, and each length waits for its name to be loaded; stores
// whose places are known that late hold up the loads of the blocks after
// them too. So the run lists in two steps. Each record's name field goes
// into a slot of fixed place, after a "Found texture: " written there once,
// and its name length beside it. Every kSlots records, and when the run
// ends, the slots are copied one after another into the lister's buffer,
// each with its newline: there every place depends only on lengths already
// at hand. The bytes are those that onTexture() would have put there.
class ListerRun {
 public:
  explicit ListerRun(TextureLister& lister) : lister_(lister) {
    for (char* slot : slots_) {
      std::memcpy(slot, kTextureLinePrefix, kTextureLinePrefixLength);
      slot[kSlotSize - 1] = '\n';  // copied out with every slot: never left unset
    }
  }
  ListerRun(const ListerRun&) = delete;
  ListerRun& operator=(const ListerRun&) = delete;
  ~ListerRun() { drain(); }

  IoResult onTexture(const uint8_t* record, BinFile&) {
    std::memcpy(slots_[pending_] + kTextureLinePrefixLength, record + kRawNameOffset,
                kRawNameFieldSize);
    lengths_[pending_] = static_cast<uint8_t>(recordRawNameLength(record));
    if (++pending_ == kSlots) drain();
    return IoResult::kOk;
  }

 private:
  static constexpr size_t kSlots = 64;
  static constexpr size_t kSlotSize = kTextureLinePrefixLength + kRawNameFieldSize + 1;

  // Not inlined into the walk's loop: a call every kSlots records costs
  // less than the registers that the loop would lose to it.
#if defined(__GNUC__)
  __attribute__((noinline))
#endif
  void drain() {
    // Locals throughout: the stores into the lines could alias any member.
    TextureLister& lister = lister_;
    const size_t pending = pending_;
    size_t used = lister.used_;
    for (size_t i = 0; i < pending; ++i) {
      if (TextureLister::kLineBufferSize - used < kSlotSize) {
        lister.used_ = used;
        lister.writeLines();
        used = 0;
      }
      char* line = lister.lines_ + used;
      const size_t newline = kTextureLinePrefixLength + lengths_[i];
      std::memcpy(line, slots_[i], kSlotSize);
      line[newline] = '\n';
      used += newline + 1;
    }
    lister.used_ = used;
    pending_ = 0;
  }

  TextureLister& lister_;
  size_t pending_ = 0;  // slots filled
  char slots_[kSlots][kSlotSize];
  uint8_t lengths_[kSlots];
};

namespace {

template <>
class TextureCalls<TextureLister> : public ListerRun {
 public:
  using ListerRun::ListerRun;
};

// Takes blocks straight from the bytes that the buffer holds, with the
// position in a local, while each block's start lies wholly there and the
// block is a texture or one to pass over whose items the file holds. It
// stops, the file's position at the first block that it did not take, at
// anything else: an end or unknown block, a block cut by the end of the
// buffer or of the file. takeBlock() takes that one, with the same outcome
// as if this loop had never run. Returns false, with *stop set, only when
// the texture action failed.
//
// Block sizes come from a switch on the kind rather than from a table: the
// processor predicts the kind and computes the next block's offset without
// waiting for a table look-up.
template <typename Action>
bool takeBufferedBlocks(BinFile& file, uint64_t perRecordSize, Action& action,
                        WalkStop* stop) {
  const uint8_t* data = nullptr;
  const uint64_t start = file.position();
  const uint64_t fileLeft = file.size() > start ? file.size() - start : 0;
  // Only bytes within the file's size: past it, takeBlock() decides.
  const size_t length =
      static_cast<size_t>(std::min<uint64_t>(file.buffered(&data), fileLeft));
  // The next block's offset from start is block - data. The loop carries a
  // pointer rather than an offset: one addition less between a block's
  // count and the next block's type word.
  const uint8_t* block = data;
  const uint8_t* const end = data + length;
  TextureCalls<Action> calls(action);
  while (end - block >= static_cast<ptrdiff_t>(kLongestBlockStart)) {
    const uint32_t type = decodeU32(block);
    uint64_t size;
    switch (classifyBlockType(type)) {
      case BlockKind::kTextureBlock: {
        const uint8_t* record = block + kWordSize;
        block = record + kTextureRecordSize;
        file.advanceTo(start + static_cast<size_t>(block - data));
        const IoResult r = calls.onTexture(record, file);
        if (r != IoResult::kOk) {
          *stop = {r, start + static_cast<size_t>(record - kWordSize - data), type};
          return false;
        }
        continue;
      }
      case BlockKind::kPerRecordBlock:
        size = perRecordSize;
        break;
      case BlockKind::kCountedBlock:
        size = kWordSize + kCountedHeadSize +
               itemBytes(decodeI32(block + kWordSize), kItemRecordSize);
        break;
      case BlockKind::kCountedWordBlock:
        size = kWordSize + kCountedHeadSize +
               itemBytes(decodeI32(block + kWordSize), kCountedWordSize);
        break;
      case BlockKind::kEndBlock:
      case BlockKind::kUnknownBlock:
      default:
        file.advanceTo(start + static_cast<size_t>(block - data));
        return true;
    }
    const size_t here = static_cast<size_t>(block - data);
    if (size > static_cast<size_t>(end - block)) {
      // The block runs past the buffer. If the file holds it, the next
      // block is read afresh; if not, takeBlock() finds it cut.
      if (size <= fileLeft - here) {
        file.advanceTo(start + here + size);
        return true;
      }
      break;
    }
    block += size;
  }
  file.advanceTo(start + static_cast<size_t>(block - data));
  return true;
}

template <typename Action>
WalkStop walkToStop(BinFile& file, int32_t recordCount, Action& action) {
  const uint64_t perRecordSize =
      kWordSize + itemBytes(recordCount, kItemRecordSize) + kPerRecordTailSize;
  WalkStop stop{};
  while (takeBufferedBlocks(file, perRecordSize, action, &stop) &&
         takeBlock(file, recordCount, action, &stop)) {
  }
  return stop;
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
  if (classifyBlockType(stop.type) == BlockKind::kEndBlock) return WalkEnd::kEndMarker;
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
