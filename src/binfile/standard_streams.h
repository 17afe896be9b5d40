// The process's standard output and error as the tool's messages meet them.
// Each platform has its own (the build picks one, with the file backend);
// printMessage is common to both.
#ifndef VELKOR_BINFILE_STANDARD_STREAMS_H_
#define VELKOR_BINFILE_STANDARD_STREAMS_H_

#include <cstddef>
#include <cstdio>

namespace velkor {

enum class StandardStream { kOutput, kError };

// True when the process's standard output or standard error (`stream`) is
// the file at `path` itself (the same file, under whatever name), so that
// nothing may be printed there. False when either cannot be identified. The
// path is all there is before the file is open: once it is, the open file
// is compared (PlatformFile::isStandardStream).
bool standardStreamIsFile(StandardStream stream, const char* path);

// Writes the n bytes at `bytes` to `out`, with as few requests to the
// system as it allows (one, for anything it takes whole), after whatever
// `out` still buffers. Waits while `out` is a pipe that is full and was
// set not to block. Returns false if the output failed; the bytes it did
// not take are lost.
bool writeOutput(std::FILE* out, const char* bytes, size_t n);

// Formats one message (printf's format) and writes it to `out` whole, with
// one writeOutput, so that it is never split among writes; a null `out`
// says nothing. Returns false if the output did not take all of it.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
bool printMessage(std::FILE* out, const char* format, ...);

}  // namespace velkor

#endif  // VELKOR_BINFILE_STANDARD_STREAMS_H_
