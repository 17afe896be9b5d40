#include "binfile/block_walk.h"

#include <cassert>
#include <cinttypes>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

#include "binfile/standard_streams.h"

namespace velkor {
namespace {

// The run's texture action (the walk's template parameter TextureAction)
// is one of the two classes below; the walk is made once for each, so that
// every call is a direct one. Both answer:
//   IoResult onTexture(const uint8_t* record, uint64_t offset, BinFile& file)
//     For each texture record read in full, where it lies in the buffer and
//     in the file. kOk, or the failure that must stop the walk at once.
//   bool endOfWalk()  (once the walk stops, before it prints anything)
//     Lets out what the action holds back. False if the output failed.
//   bool report()  (after the file is closed) False if the output failed.

constexpr char kTextureLinePrefix[] = "Found texture: ";
constexpr size_t kTextureLinePrefixLength = sizeof(kTextureLinePrefix) - 1;
// Prefix, the whole name field, newline.
constexpr size_t kLongestTextureLine = kTextureLinePrefixLength + kRawNameFieldSize + 1;

// Prints the RAW name of every texture, gathering the lines in a buffer of
// its own that goes to `out` when full; once the output fails, the walk stops.
class TextureLister {
 public:
  explicit TextureLister(std::FILE* out) : out_(out) {}

  // Both actions' onTexture are made in the class, so inside the walk.
  IoResult onTexture(const uint8_t* record, uint64_t, BinFile&) {
    if (kLineBufferSize - used_ < kLongestTextureLine && !writeLines()) {
      return IoResult::kOutputError;
    }
    // The whole name field is copied, and the newline lands right after the
    // name, over whatever of the field followed it.
    char* line = lines_.get() + used_;
    std::memcpy(line, kTextureLinePrefix, kTextureLinePrefixLength);
    std::memcpy(line + kTextureLinePrefixLength, record + kRawNameOffset, kRawNameFieldSize);
    const size_t length = kTextureLinePrefixLength + rawNameLength(record);
    line[length] = '\n';
    used_ += length + 1;
    return IoResult::kOk;
  }
  bool endOfWalk() { return writeLines(); }
  bool report() { return true; }

 private:
  static constexpr size_t kLineBufferSize = 64 * 1024;
  // Hands the gathered lines to out_. False if it did not take them all.
  bool writeLines() {
    const size_t used = used_;
    used_ = 0;
    return used == 0 || writeOutput(out_, lines_.get(), used);
  }

  std::FILE* out_;
  size_t used_ = 0;  // bytes of lines_ not yet handed to out_
  // Apart from the lister, so that used_ can stay in a register while the
  // lines are written.
  const std::unique_ptr<char[]> lines_{new char[kLineBufferSize]};
};

// Writes a new RAW name into every texture whose name equals the old one:
// the record's whole name field where it was read, one write each.
class TextureRenamer {
 public:
  TextureRenamer(const std::string& oldRawName, const std::string& newRawName, std::FILE* out)
      : oldRawName_(oldRawName), newRawName_(newRawName), out_(out) {}
  IoResult onTexture(const uint8_t* record, uint64_t offset, BinFile& file) {
    if (!oldRawName_.matches(record)) return IoResult::kOk;
    TextureRecord renamed;
    std::memcpy(renamed.bytes(), record, kTextureRecordSize);
    renamed.storeRawName(newRawName_.data(), newRawName_.size());
    // The lead word never changes: the name field alone is written, whole.
    const IoResult r = file.write(offset + kRawNameOffset, renamed.bytes() + kRawNameOffset,
                                  kRawNameFieldSize);
    if (r == IoResult::kOk || r == IoResult::kWrittenLate) ++renamedCount_;
    return r;
  }
  bool endOfWalk() { return true; }
  // Prints how many records were rewritten.
  bool report() { return printMessage(out_, "Renamed %" PRIi64 " blocks\n", renamedCount_); }

 private:
  const RawNamePattern oldRawName_;
  const std::string& newRawName_;
  std::FILE* out_;
  int64_t renamedCount_ = 0;  // records whose name field the system accepted in full
};

// Where and why the block loop stopped: at an end block or an unknown block
// (result kOk), or on a failure, with the offset of the block's type word.
struct WalkStop {
  IoResult result;
  uint64_t blockStart;
  BlockType type;
};

// The one walk over the block stream, made for the run's texture action.
template <typename TextureAction>
WalkStop walkToStop(BinFile& file, uint64_t offset, int32_t recordCount, TextureAction& action,
                    const std::atomic<int>& stopRequested) {
  const uint64_t fileSize = file.size();
  // The bytes from `offset` on that the buffer holds, as peek() gave them:
  // the walk moves along them without asking again while a whole block
  // start lies there, as a texture action never changes the buffer.
  const uint8_t* block = nullptr;
  size_t held = 0;
  for (;;) {
    // Invariant: every block before `offset` was taken whole, so the file
    // holds it, and `held` counts bytes of the file only.
    assert(offset <= fileSize && held <= fileSize - offset);
    if (stopRequested.load(std::memory_order_relaxed) != 0) return {IoResult::kStopped, offset, 0};
    if (held < kLongestBlockStart) {
      // Through locals of its own, so that `block` and `held` can stay in
      // registers while the walk moves along the buffer.
      const uint8_t* bytes = nullptr;
      size_t got = 0;
      const IoResult r = file.peek(offset, kLongestBlockStart, &bytes, &got);
      if (r != IoResult::kOk) return {r, offset, 0};
      if (got < kWordSize) return {IoResult::kEnd, offset, 0};
      block = bytes;
      held = got;
    }
    const BlockType type = decodeU32(block);
    const BlockKind kind = classifyBlockType(type);
    if (kind == BlockKind::kEndBlock || kind == BlockKind::kUnknownBlock) {
      return {IoResult::kOk, offset, type};
    }
    // Nothing is decoded or acted on that was not read in full, and no
    // block is passed over that the file does not hold.
    if (held < kWordSize + blockHeadSize(kind)) return {IoResult::kEnd, offset, type};
    const uint64_t size = blockSize(kind, block + kWordSize, recordCount);
    // A block within the bytes held is in the file: only a longer one is
    // checked against the file's size (and a texture block never is).
    if (size > held && size > fileSize - offset) return {IoResult::kEnd, offset, type};
    if (kind == BlockKind::kTextureBlock) {
      const IoResult r = action.onTexture(block + kWordSize, offset + kWordSize, file);
      if (r != IoResult::kOk) return {r, offset, type};
    }
    offset += size;
    if (size < held) {
      block += size;
      held -= static_cast<size_t>(size);
    } else {
      held = 0;
    }
  }
}

// Reads the prologue and passes over the items after it. On success
// *recordCount holds the prologue's count and *blocksStart the offset of
// the first block. kEnd when the file is not a valid BIN file.
IoResult readPrologue(BinFile& file, int32_t* recordCount, uint64_t* blocksStart) {
  IoResult r = file.start();
  const uint8_t* prologue;
  size_t got = 0;
  if (r == IoResult::kOk) r = file.peek(0, kBinPrologueSize, &prologue, &got);
  if (r != IoResult::kOk) return r;
  if (got < kBinPrologueSize || decodeU32(prologue) != kBinVersion) return IoResult::kEnd;
  *recordCount = decodeI32(prologue + kRecordCountOffset);
  const uint64_t items = itemBytes(*recordCount, kItemRecordSize);
  if (items > file.size() - kBinPrologueSize) return IoResult::kEnd;
  *blocksStart = kBinPrologueSize + items;
  return IoResult::kOk;
}

// Says how the walk stopped, if not at the end block, and returns the exit
// status: 0 at an end block or an unknown block. `heldOut` is false when the
// output failed, in the walk or as the action let out the lines it held
// back: nothing more is said then, nor after a stop the process asked for.
int endWalk(const WalkStop& stop, bool heldOut, const char* binPath, std::FILE* out,
            bool* printed) {
  if (!heldOut || stop.result == IoResult::kStopped) return 1;
  switch (stop.result) {
    case IoResult::kOk:  // an end block or an unknown one
      if (classifyBlockType(stop.type) == BlockKind::kEndBlock) return 0;
      *printed = printMessage(out, "Found unknown %x block at %" PRIx64 ", leaving\n",
                              static_cast<unsigned>(stop.type), stop.blockStart);
      return 0;
    case IoResult::kEnd:  // the file ended inside a block, or before the end block
      *printed = printMessage(out, "Found incomplete block at %" PRIx64 ", leaving\n",
                              stop.blockStart);
      return 1;
    default:
      *printed = printMessage(out, stop.result == IoResult::kReadError ? "Unable to read %s\n"
                                                                       : "Unable to write %s\n",
                              binPath);
      return 1;
  }
}

// The run from the first block on, with the run's own action: the walk,
// what is said about how it stopped, the flush, the close and the report.
// Returns the exit status.
template <typename TextureAction>
int walkAndReport(BinFile& file, uint64_t blocksStart, int32_t recordCount, TextureAction& action,
                  const std::atomic<int>& stopRequested, const char* binPath, std::FILE* out) {
  const WalkStop stop = walkToStop(file, blocksStart, recordCount, action, stopRequested);
  // Lines the action held back come before the walk's own message.
  const bool heldOut = stop.result != IoResult::kOutputError && action.endOfWalk();
  bool printed = true;  // false once anything printed did not go out
  int status = endWalk(stop, heldOut, binPath, out, &printed);
  // Whatever reached the file, the records counted above all, is on the
  // disk before the count is printed. A failed write was said already.
  if (file.flushWrites() != IoResult::kOk) {
    const bool writeSaid = heldOut && (stop.result == IoResult::kWriteError ||
                                         stop.result == IoResult::kWrittenLate);
    if (!writeSaid && !printMessage(out, "Unable to write %s\n", binPath)) {
      printed = false;
    }
    status = 1;
  }
  file.close();
  if (!action.report()) printed = false;
  // A listing or count that could not be printed is not a success.
  return printed ? status : 1;
}

}  // namespace

int runTool(const RunRequest& request, std::FILE* out) {
  return runTool(request, openPlatformFile(request.binPath.c_str(), request.mode == RunMode::kRename),
                 out);
}

int runTool(const RunRequest& request, std::unique_ptr<PlatformFile> platformFile,
            std::FILE* out) {
  // The path as messages show it.
  const char* binPath =
      request.shownPath.empty() ? request.binPath.c_str() : request.shownPath.c_str();
  if (!platformFile) {
    printMessage(out, "Unable to open %s\n", binPath);
    return 1;
  }
  BinFile file(std::move(platformFile));
  int32_t recordCount = 0;
  uint64_t blocksStart = 0;
  const IoResult r = readPrologue(file, &recordCount, &blocksStart);
  if (r != IoResult::kOk) {
    // Nothing was walked, so there is nothing to report.
    file.close();
    printMessage(out, r == IoResult::kEnd ? "%s is not a valid BIN file\n" : "Unable to read %s\n",
                 binPath);
    return 1;
  }

  static const std::atomic<int> kNeverStop{0};
  const std::atomic<int>& stopRequested =
      request.stopRequested ? *request.stopRequested : kNeverStop;
  if (request.mode == RunMode::kRename) {
    TextureRenamer renamer(request.oldRawName, request.newRawName, out);
    return walkAndReport(file, blocksStart, recordCount, renamer, stopRequested, binPath, out);
  }
  TextureLister lister(out);
  return walkAndReport(file, blocksStart, recordCount, lister, stopRequested, binPath, out);
}

}  // namespace velkor
