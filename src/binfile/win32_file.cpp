// The Win32 backend of PlatformFile: a handle opened with share mode 0, so
// that Windows keeps every other opener off the file for the run. Under wine
// that holds off Windows programs only, never Linux ones, so the length is
// still asked before each write.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>
#include <string>

#include "binfile/platform_file.h"
#include "binfile/standard_streams.h"
#include "binfile/wide_text.h"

namespace velkor {
namespace {

// The offset of a transfer on a handle opened for plain, synchronous use
// (the call still waits), in two halves so that offsets past 4 GiB work.
// The handle's own position is never used.
OVERLAPPED overlappedAt(uint64_t offset) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset & 0xffffffffu);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

// Whether the files open at `a` and `b` have the same length and the same
// times of the last write and change.
bool sameLengthAndTimes(HANDLE a, HANDLE b) {
  FILE_STANDARD_INFO aSize, bSize;
  FILE_BASIC_INFO aTimes, bTimes;
  return GetFileInformationByHandleEx(a, FileStandardInfo, &aSize, sizeof aSize) &&
         GetFileInformationByHandleEx(b, FileStandardInfo, &bSize, sizeof bSize) &&
         GetFileInformationByHandleEx(a, FileBasicInfo, &aTimes, sizeof aTimes) &&
         GetFileInformationByHandleEx(b, FileBasicInfo, &bTimes, sizeof bTimes) &&
         aSize.EndOfFile.QuadPart == bSize.EndOfFile.QuadPart &&
         aTimes.LastWriteTime.QuadPart == bTimes.LastWriteTime.QuadPart &&
         aTimes.ChangeTime.QuadPart == bTimes.ChangeTime.QuadPart;
}

// Whether the process's standard output or error (`stream`) is the file
// open at `h`: the same volume and file id (the 128-bit id from Windows 8
// on, else the older 64-bit index). Wine answers volume 0 for a file it
// cannot place on a drive (a standard stream handed over from Linux, a file
// on a file system mounted below a drive's folder), where a file of another
// file system can have the same id (its inode number): there the length and
// the times of the last write and change must agree too.
bool isStandardStream(StandardStream stream, HANDLE h) {
  HANDLE out =
      GetStdHandle(stream == StandardStream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (out == NULL || out == INVALID_HANDLE_VALUE || GetFileType(out) != FILE_TYPE_DISK) return false;
  FILE_ID_INFO outId, id;
  BY_HANDLE_FILE_INFORMATION outInfo, info;
  if (GetFileInformationByHandleEx(out, FileIdInfo, &outId, sizeof outId) &&
      GetFileInformationByHandleEx(h, FileIdInfo, &id, sizeof id)) {
    return std::memcmp(&outId.FileId, &id.FileId, sizeof id.FileId) == 0 &&
           (outId.VolumeSerialNumber == 0 || id.VolumeSerialNumber == 0
                ? sameLengthAndTimes(out, h)
                : outId.VolumeSerialNumber == id.VolumeSerialNumber);
  }
  return GetFileInformationByHandle(out, &outInfo) && GetFileInformationByHandle(h, &info) &&
         info.dwVolumeSerialNumber == outInfo.dwVolumeSerialNumber &&
         info.nFileIndexHigh == outInfo.nFileIndexHigh && info.nFileIndexLow == outInfo.nFileIndexLow;
}

class Win32File final : public PlatformFile {
 public:
  explicit Win32File(HANDLE handle) : handle_(handle) {}
  ~Win32File() override { if (handle_ != INVALID_HANDLE_VALUE) close(); }

  // Each n (a read buffer, a record) is far within what a DWORD counts.
  bool readAt(uint64_t offset, uint8_t* buf, size_t n, size_t* got) override {
    size_t done = 0;
    while (done < n) {
      OVERLAPPED at = overlappedAt(offset + done);
      DWORD r = 0;
      if (!ReadFile(handle_, buf + done, static_cast<DWORD>(n - done), &r, &at)) {
        // A read that starts at or past the end of the file (one that has
        // shrunk under the run) fails so.
        if (GetLastError() == ERROR_HANDLE_EOF) break;
        *got = done;
        return false;
      }
      if (r == 0) break;  // end of file
      done += r;
    }
    *got = done;
    return true;
  }

  bool writeAt(uint64_t offset, const uint8_t* buf, size_t n, size_t* written) override {
    OVERLAPPED at = overlappedAt(offset);
    DWORD w = 0;
    BOOL ok = WriteFile(handle_, buf, static_cast<DWORD>(n), &w, &at);
    *written = ok ? w : 0;
    return ok && w == n;
  }

  bool size(uint64_t* size) override {
    LARGE_INTEGER s;
    if (!GetFileSizeEx(handle_, &s) || s.QuadPart < 0) return false;
    *size = static_cast<uint64_t>(s.QuadPart);
    return true;
  }

  bool isStandardStream(StandardStream stream) override {
    return velkor::isStandardStream(stream, handle_);
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

// Opens the file at `path` (in the 8-bit form of wide_text.h) exactly as
// typed: the wide name goes to the system unchanged, "\\?\" and all.
HANDLE openWide(const char* path, DWORD access, DWORD share) {
  std::u16string wide;
  if (!wideFromNarrow(path, &wide)) return INVALID_HANDLE_VALUE;
  return CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()), access, share, NULL,
                     OPEN_EXISTING, 0, NULL);
}

}  // namespace

std::unique_ptr<PlatformFile> openPlatformFile(const char* path, bool) {
  // Share mode 0: while the handle is open nobody else may open the file,
  // and the open fails if somebody else has it open already.
  HANDLE h = openWide(path, GENERIC_READ | GENERIC_WRITE, 0);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  // Only a file on disk is kept, not a console, pipe or device (the open
  // refuses a directory, without backup semantics).
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    return nullptr;
  }
  return std::unique_ptr<PlatformFile>(new Win32File(h));
}

bool standardStreamIsFile(StandardStream stream, const char* path) {
  // Asking for no access with every sharing allowed, the open succeeds even
  // while standard output (or anybody) holds the file.
  HANDLE h = openWide(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool same = isStandardStream(stream, h);
  CloseHandle(h);
  return same;
}

bool writeOutput(std::FILE* out, const char* bytes, size_t n) {
  // The runtime turns each LF into CR LF on its way out.
  return std::fwrite(bytes, 1, n, out) == n && std::fflush(out) == 0;
}

}  // namespace velkor
