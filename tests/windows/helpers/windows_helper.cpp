// windows_helper hold PATH HOW: another Windows program that has PATH open.
//   It opens the file, says "held" on standard output (or why it cannot) and
//   keeps the file open until its standard input ends. HOW is exclusive
//   (read and write, nobody else let in), shared (read and write, everybody
//   else let in) or reader (read only, other readers let in).
// windows_helper version PATH: prints the version record of an executable as
//   Windows reads it, the fixed part first, then the strings of its first
//   translation.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

int hold(const char* path, const char* how) {
  DWORD access = GENERIC_READ | GENERIC_WRITE, share = 0;
  if (std::strcmp(how, "shared") == 0) {
    share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  } else if (std::strcmp(how, "reader") == 0) {
    access = GENERIC_READ;
    share = FILE_SHARE_READ;
  } else if (std::strcmp(how, "exclusive") != 0) {
    std::printf("unknown way %s\n", how);
    return 2;
  }
  HANDLE h = CreateFileA(path, access, share, NULL, OPEN_EXISTING, 0, NULL);
  if (h == INVALID_HANDLE_VALUE) {
    std::printf("cannot open %s: error %lu\n", path, GetLastError());
    return 1;
  }
  std::printf("held\n");
  std::fflush(stdout);
  while (std::getchar() != EOF) {
  }
  CloseHandle(h);
  return 0;
}

void printVersion(const char* name, DWORD ms, DWORD ls) {
  std::printf("fixed %s %lu.%lu.%lu.%lu\n", name, static_cast<unsigned long>(HIWORD(ms)),
              static_cast<unsigned long>(LOWORD(ms)), static_cast<unsigned long>(HIWORD(ls)),
              static_cast<unsigned long>(LOWORD(ls)));
}

int version(const char* path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  std::vector<char> data(size + 1);
  VS_FIXEDFILEINFO* fixed = nullptr;
  struct Translation {
    WORD language;
    WORD codePage;
  }* translation = nullptr;
  UINT length = 0, translationLength = 0;
  if (size == 0 || !GetFileVersionInfoA(path, 0, size, data.data()) ||
      !VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) ||
      length < sizeof *fixed || fixed->dwSignature != 0xFEEF04BD ||
      !VerQueryValueA(data.data(), "\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(&translation), &translationLength) ||
      translationLength < sizeof *translation) {
    std::printf("no whole version record: error %lu\n", GetLastError());
    return 1;
  }
  printVersion("FileVersion", fixed->dwFileVersionMS, fixed->dwFileVersionLS);
  printVersion("ProductVersion", fixed->dwProductVersionMS, fixed->dwProductVersionLS);
  std::printf("fixed FileType %s\n", fixed->dwFileType == VFT_APP ? "application" : "other");
  for (const char* name :
       {"FileVersion", "ProductVersion", "ProductName", "FileDescription", "OriginalFilename"}) {
    char query[128];
    std::snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s", translation->language,
                  translation->codePage, name);
    char* value = nullptr;
    if (VerQueryValueA(data.data(), query, reinterpret_cast<void**>(&value), &length) && value) {
      std::printf("%s=%s\n", name, value);
    } else {
      std::printf("%s missing\n", name);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "hold") == 0) return hold(argv[2], argv[3]);
  if (argc == 3 && std::strcmp(argv[1], "version") == 0) return version(argv[2]);
  std::fprintf(stderr, "usage: windows_helper hold PATH exclusive|shared|reader\n"
                       "       windows_helper version PATH\n");
  return 2;
}
