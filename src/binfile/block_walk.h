// The tool's work on one BIN file: open it, check the prologue, walk the
// block stream to the end block, listing every texture or renaming those
// that match, then close and report.
#ifndef VELKOR_BINFILE_BLOCK_WALK_H_
#define VELKOR_BINFILE_BLOCK_WALK_H_

#include <cstdio>
#include <memory>

#include "binfile/bin_file.h"
#include "binfile/bin_layout.h"
#include "binfile/platform_file.h"
#include "binfile/run_request.h"

namespace velkor {

// Does the whole run on the file at request.binPath and returns the exit
// status: 0 when the walk reached an end block or an unknown block, 1 on
// every failure, a failed output included. Every message goes to `out`.
int runTool(const RunRequest& request, std::FILE* out);

// The same on a file already opened (nullptr when the open failed).
int runTool(const RunRequest& request, std::unique_ptr<PlatformFile> file,
            std::FILE* out);

}  // namespace velkor

#endif  // VELKOR_BINFILE_BLOCK_WALK_H_
