// The tool's messages: each is formatted whole and handed to the output
// with one request, so that it is never split among writes.
#ifndef VELKOR_BINFILE_MESSAGE_H_
#define VELKOR_BINFILE_MESSAGE_H_

#include <cstdio>

namespace velkor {

// Formats one message (printf's format) and writes it to `out` whole; a
// null `out` says nothing. Returns false if the output did not take all of
// it.
#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
bool printMessage(std::FILE* out, const char* format, ...);

}  // namespace velkor

#endif  // VELKOR_BINFILE_MESSAGE_H_
