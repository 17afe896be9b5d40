// The tool's work on one BIN file: open it, check the prologue, walk the
// block stream to the end block and hand every texture record to the run's
// texture action, then close and report.
#ifndef VELKOR_BINFILE_BLOCK_WALK_H_
#define VELKOR_BINFILE_BLOCK_WALK_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

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
  // kTextureRecordSize bytes where they lie in the file's buffer, and
  // `offset` is where they lie in the file. Returns kOk, or the failure
  // that must stop the walk at once.
  virtual IoResult onTexture(const uint8_t* record, uint64_t offset, BinFile& file) = 0;
  // Called once when the walk stops, before the walk prints anything of its
  // own: whatever the action still holds back for the output goes out now.
  // Returns false if the output failed.
  virtual bool endOfWalk() { return true; }
  // Called once, after the file has been closed. Returns false if the
  // output failed.
  virtual bool report() { return true; }
};

// Prints the RAW name of every texture. The lines are gathered in the
// lister's own buffer and handed to `out` a buffer at a time. Once the
// output fails, nothing more could be shown: the walk stops.
class TextureLister final : public TextureAction {
 public:
  explicit TextureLister(std::FILE* out) : out_(out) {}
  IoResult onTexture(const uint8_t* record, uint64_t offset, BinFile& file) override;
  bool endOfWalk() override { return writeLines(); }

 private:
  static constexpr size_t kLineBufferSize = 64 * 1024;
  // Hands the gathered lines to out_. False if it did not take them all.
  bool writeLines();

  std::FILE* out_;
  size_t used_ = 0;  // bytes of lines_ not yet handed to out_
  char lines_[kLineBufferSize];
};

// Writes a new RAW name into every texture whose name equals the old one:
// the whole record, at the place where it was read, one write each.
class TextureRenamer final : public TextureAction {
 public:
  TextureRenamer(const std::string& oldRawName, const std::string& newRawName,
                 std::FILE* out)
      : oldRawName_(oldRawName), newRawName_(newRawName), out_(out) {}
  IoResult onTexture(const uint8_t* record, uint64_t offset, BinFile& file) override;
  // Prints how many records were rewritten.
  bool report() override;

 private:
  const RawNamePattern oldRawName_;
  const std::string& newRawName_;
  std::FILE* out_;
  int64_t renamedCount_ = 0;  // records whose 20 bytes the system accepted in full
};

// Does the whole run on the file at request.binPath and returns the exit
// status: 0 when the walk reached an end block or an unknown block, 1 on
// every failure, a failed output included. Every message goes to `out`.
int runTool(const RunRequest& request, std::FILE* out);

// The same on a file already opened (nullptr when the open failed).
int runTool(const RunRequest& request, std::unique_ptr<PlatformFile> file,
            std::FILE* out);

}  // namespace velkor

#endif  // VELKOR_BINFILE_BLOCK_WALK_H_
