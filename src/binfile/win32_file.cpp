// The Win32 backend of PlatformFile: a handle opened with share mode 0, so
// that the system itself keeps every other opener off the file for the run.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "binfile/platform_file.h"

namespace velkor {
namespace {

// The most that one ReadFile or WriteFile call is asked to move.
constexpr size_t kMaxTransfer = 1u << 30;

DWORD transferSize(size_t remaining) {
  return static_cast<DWORD>(remaining < kMaxTransfer ? remaining : kMaxTransfer);
}

class Win32File final : public PlatformFile {
 public:
  explicit Win32File(HANDLE handle) : handle_(handle) {}
  ~Win32File() override {
    if (handle_ != INVALID_HANDLE_VALUE) close();
  }

  bool read(uint8_t* buf, size_t n, size_t* got) override {
    size_t done = 0;
    while (done < n) {
      DWORD r = 0;
      if (!ReadFile(handle_, buf + done, transferSize(n - done), &r, NULL)) {
        *got = done;
        return false;
      }
      if (r == 0) break;  // end of file
      done += r;
    }
    *got = done;
    return true;
  }

  bool seek(int64_t distance, uint64_t* position) override {
    // The distance goes in two halves; the high half also receives the high
    // half of the new position. A low half of INVALID_SET_FILE_POINTER is a
    // valid position on its own, so only GetLastError tells a failure.
    const uint64_t bits = static_cast<uint64_t>(distance);
    LONG low = static_cast<LONG>(static_cast<DWORD>(bits & 0xffffffffu));
    LONG high = static_cast<LONG>(static_cast<DWORD>(bits >> 32));
    SetLastError(NO_ERROR);
    DWORD newLow = SetFilePointer(handle_, low, &high, FILE_CURRENT);
    if (newLow == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return false;
    *position = (static_cast<uint64_t>(static_cast<DWORD>(high)) << 32) | newLow;
    return true;
  }

  bool write(const uint8_t* buf, size_t n, size_t* written) override {
    size_t done = 0;
    while (done < n) {
      DWORD w = 0;
      if (!WriteFile(handle_, buf + done, transferSize(n - done), &w, NULL)) break;
      if (w == 0) break;  // nothing accepted: give up rather than spin
      done += w;
    }
    *written = done;
    return done == n;
  }

  bool size(uint64_t* size) override {
    LARGE_INTEGER s;
    if (!GetFileSizeEx(handle_, &s) || s.QuadPart < 0) return false;
    *size = static_cast<uint64_t>(s.QuadPart);
    return true;
  }

  bool flush() override { return FlushFileBuffers(handle_) != 0; }

  bool close() override {
    // The handle is gone after CloseHandle whatever it returns: never retry.
    BOOL ok = CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return ok != 0;
  }

 private:
  HANDLE handle_;
};

}  // namespace

std::unique_ptr<PlatformFile> openPlatformFile(const char* path) {
  // Share mode 0: while the handle is open nobody else may open the file,
  // and the open fails if somebody else has it open already.
  HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  // Only a file on disk is kept: not a console, a pipe, a device or a
  // directory (which the open refuses anyway, without backup semantics).
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(h);
    return nullptr;
  }
  return std::unique_ptr<PlatformFile>(new Win32File(h));
}

}  // namespace velkor
