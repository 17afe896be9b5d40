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

IoResult TextureLister::onTexture(TextureRecord& record, BinFile&) {
  // The line is "Found texture: %s\n", put together without a format parse.
  char line[kTextureLinePrefixLength + kRawNameFieldSize + 1];
  size_t length = record.rawNameLength();
  std::memcpy(line, kTextureLinePrefix, kTextureLinePrefixLength);
  std::memcpy(line + kTextureLinePrefixLength, record.rawNameData(), length);
  line[kTextureLinePrefixLength + length] = '\n';
  std::fwrite(line, 1, kTextureLinePrefixLength + length + 1, out_);
  return IoResult::kOk;
}

void TextureLister::report(const BinFile&) {}

IoResult TextureRenamer::onTexture(TextureRecord& record, BinFile& file) {
  if (!record.rawNameEquals(oldRawName_.data(), oldRawName_.size())) return IoResult::kOk;
  record.storeRawName(newRawName_.data(), newRawName_.size());
  return file.rewrite(record.bytes(), kTextureRecordSize);
}

void TextureRenamer::report(const BinFile& closedFile) {
  std::fprintf(out_, "Renamed %" PRIi64 " blocks\n", closedFile.rewritesAccepted());
}

WalkEnd walkBlocks(BinFile& file, int32_t recordCount, TextureAction& action,
                   const char* binPath, std::FILE* out) {
  const uint64_t perRecordBody =
      itemBytes(recordCount, kItemRecordSize) + kPerRecordTailSize;
  uint8_t word[kWordSize];
  uint8_t head[kCountedHeadSize];
  TextureRecord record;
  for (;;) {
    const uint64_t blockStart = file.position();
    IoResult r = file.read(word, kWordSize);
    if (r != IoResult::kOk) return failedWalk(r, blockStart, binPath, out);
    const uint32_t type = decodeU32(word);
    switch (classifyBlockType(type)) {
      case BlockKind::kEnd:
        return WalkEnd::kEndMarker;
      case BlockKind::kPerRecord:
        r = file.skip(perRecordBody);
        break;
      case BlockKind::kTexture:
        r = file.read(record.bytes(), kTextureRecordSize);
        if (r == IoResult::kOk) r = action.onTexture(record, file);
        break;
      case BlockKind::kCounted:
        r = file.read(head, kCountedHeadSize);
        if (r == IoResult::kOk) r = file.skip(itemBytes(decodeI32(head), kItemRecordSize));
        break;
      case BlockKind::kCountedWords:
        r = file.read(head, kCountedHeadSize);
        if (r == IoResult::kOk) r = file.skip(itemBytes(decodeI32(head), kCountedWordSize));
        break;
      case BlockKind::kUnknown:
        std::fprintf(out, "Found unknown %x block at %" PRIx64 ", leaving\n",
                     static_cast<unsigned>(type), file.position() - kWordSize);
        return WalkEnd::kUnknownBlock;
    }
    if (r != IoResult::kOk) return failedWalk(r, blockStart, binPath, out);
  }
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
