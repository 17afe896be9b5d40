// version_info PATH: prints the version record of an executable as Windows
// reads it, the fixed part first, then the strings of its first translation.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

void printVersion(const char* name, DWORD ms, DWORD ls) {
  std::printf("fixed %s %lu.%lu.%lu.%lu\n", name, static_cast<unsigned long>(HIWORD(ms)),
              static_cast<unsigned long>(LOWORD(ms)), static_cast<unsigned long>(HIWORD(ls)),
              static_cast<unsigned long>(LOWORD(ls)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: version_info PATH\n");
    return 2;
  }
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(argv[1], &ignored);
  if (size == 0) {
    std::printf("no version record: error %lu\n", GetLastError());
    return 1;
  }
  std::vector<char> data(size);
  if (!GetFileVersionInfoA(argv[1], 0, size, data.data())) {
    std::printf("version record unreadable: error %lu\n", GetLastError());
    return 1;
  }
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &length) ||
      length < sizeof *fixed || fixed->dwSignature != 0xFEEF04BD) {
    std::printf("no fixed part\n");
    return 1;
  }
  printVersion("FileVersion", fixed->dwFileVersionMS, fixed->dwFileVersionLS);
  printVersion("ProductVersion", fixed->dwProductVersionMS, fixed->dwProductVersionLS);
  std::printf("fixed FileType %s\n", fixed->dwFileType == VFT_APP ? "application" : "other");

  struct Translation {
    WORD language;
    WORD codePage;
  };
  Translation* translations = nullptr;
  if (!VerQueryValueA(data.data(), "\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(&translations), &length) ||
      length < sizeof *translations) {
    std::printf("no translation\n");
    return 1;
  }
  const char* const names[] = {"FileVersion", "ProductVersion", "ProductName", "FileDescription",
                               "OriginalFilename"};
  for (const char* name : names) {
    char query[128];
    std::snprintf(query, sizeof query, "\\StringFileInfo\\%04x%04x\\%s", translations->language,
                  translations->codePage, name);
    char* value = nullptr;
    if (VerQueryValueA(data.data(), query, reinterpret_cast<void**>(&value), &length) && value) {
      std::printf("%s=%s\n", name, value);
    } else {
      std::printf("%s missing\n", name);
    }
  }
  return 0;
}
