#include <cstdarg>
#include <memory>

#include "binfile/standard_streams.h"

namespace velkor {

bool printMessage(std::FILE* out, const char* format, ...) {
  if (out == nullptr) return true;
  // Most messages fit here; one that names a long path is formatted again
  // into a buffer of its own length.
  char small[512];
  std::va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (length < 0) return false;
  if (static_cast<size_t>(length) < sizeof small) return writeOutput(out, small, static_cast<size_t>(length));
  std::unique_ptr<char[]> large(new char[static_cast<size_t>(length) + 1]);
  va_start(args, format);
  std::vsnprintf(large.get(), static_cast<size_t>(length) + 1, format, args);
  va_end(args);
  return writeOutput(out, large.get(), static_cast<size_t>(length));
}

}  // namespace velkor
