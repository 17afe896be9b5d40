// The tool's work on one BIN file: open it, check the prologue, walk the
// block stream to the end block and hand every texture record to the run's
// texture action, then close and report.
#ifndef VELKOR_BINFILE_BLOCK_WALK_H_
#define VELKOR_BINFILE_BLOCK_WALK_H_

#include <cstdint>
#include <cstdio>
#include <memory>

#include "binfile/bin_file.h"
#include "binfile/bin_layout.h"
#include "binfile/platform_file.h"
#include "binfile/run_request.h"

namespace velkor {

// What the walk does with each texture record.
class TextureAction {
 public:
  virtual ~TextureAction() = default;
  // Called with each texture record read in full: `record` points at its
  // kTextureRecordSize bytes where they lie in the file's buffer, and `file`
  // stands just past it. Returns kOk, or the failure that must stop the walk
  // at once.
  virtual IoResult onTexture(const uint8_t* record, BinFile& file) = 0;
  // Called once when the walk stops, before the walk prints anything of its
  // own: whatever the action still holds back for the output goes out now.
  virtual void endOfWalk() {}
  // Called once, after the file has been closed.
  virtual void report(const BinFile& closedFile) = 0;
};

// Prints the RAW name of every texture. The lines are gathered in the
// lister's own buffer and handed to `out` a buffer at a time, so a listing
// costs a few copies per line rather than a locked stdio call.
class TextureLister final : public TextureAction {
 public:
  explicit TextureLister(std::FILE* out) : out_(out) {}
  IoResult onTexture(const uint8_t* record, BinFile& file) override;
  void endOfWalk() override { writeLines(); }
  void report(const BinFile& closedFile) override;

 private:
  // The walk's loop over buffered blocks holds the fill level in a local
  // while it lists a run of textures.
  friend class ListerRun;

  static constexpr size_t kLineBufferSize = 64 * 1024;
  void writeLines();

  std::FILE* out_;
  size_t used_ = 0;  // bytes of lines_ not yet handed to out_
  char lines_[kLineBufferSize];
};

// Writes a new RAW name into every texture whose name equals the old one.
class TextureRenamer final : public TextureAction {
 public:
  TextureRenamer(const std::string& oldRawName, const std::string& newRawName,
                 std::FILE* out)
      : oldRawName_(oldRawName), newRawName_(newRawName), out_(out) {}
  IoResult onTexture(const uint8_t* record, BinFile& file) override;
  // Prints how many records were rewritten, counting only those whose bytes
  // the system accepted.
  void report(const BinFile& closedFile) override;

 private:
  const std::string& oldRawName_;
  const std::string& newRawName_;
  std::FILE* out_;
};

// How the block loop ended.
enum class WalkEnd {
  kEndMarker,     // an end block was read
  kUnknownBlock,  // a block type that the tool does not know
  kIncomplete,    // the file ended inside a block, or before the end block
  kReadFailed,
  kWriteFailed,
};

// Walks the block stream from the position to the end block. recordCount is
// the prologue's count.
WalkEnd walkBlocks(BinFile& file, int32_t recordCount, TextureAction& action,
                   const char* binPath, std::FILE* out);

// Does the whole run on the file at request.binPath and returns the exit
// status: 0 when the walk reached an end block or an unknown block, 1 on
// every failure. Every message goes to `out`.
int runTool(const RunRequest& request, std::FILE* out);

// The same on a file already opened (nullptr when the open failed).
int runTool(const RunRequest& request, std::unique_ptr<PlatformFile> file,
            std::FILE* out);

}  // namespace velkor

#endif  // VELKOR_BINFILE_BLOCK_WALK_H_
