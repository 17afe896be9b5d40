// On Windows the parameters are taken in UTF-16, as typed, never through
// the ANSI code page (which turns characters it lacks into look-alikes, and
// so could name another file or another texture). The path goes on in the
// 8-bit form of wide_text.h, which the file layer turns back into exactly
// the typed UTF-16; RAW names are converted into the ANSI code page, the
// bytes the file stores, only when that is exact.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cwchar>

#include "binfile/wide_text.h"
#include "cli/arguments.h"

// The runtime's own splitting of the wide command line, the one it uses for
// main's parameters; 0 for `expand` keeps wildcards as typed.
extern "C" {
struct VelkorStartupInfo {
  int newMode;
};
__declspec(dllimport) int __cdecl __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env,
                                                 int expand, VelkorStartupInfo* info);
}

namespace velkor {
namespace {

// The bytes of `wide` in the ANSI code page, if every character has exactly
// one there: no best-fit look-alike, no default character, and the bytes
// read back as the same characters.
bool exactAnsi(const wchar_t* wide, std::string* out) {
  const int n = static_cast<int>(std::wcslen(wide));
  out->clear();
  if (n == 0) return true;
  // With UTF-8 as the ANSI code page the flag and the default-character
  // check are not allowed; invalid UTF-16 then fails the conversion.
  const UINT cp = GetACP();
  const bool utf8 = cp == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* usedDefaultCheck = utf8 ? nullptr : &usedDefault;
  const int size = WideCharToMultiByte(cp, flags, wide, n, nullptr, 0, nullptr, usedDefaultCheck);
  if (size <= 0 || usedDefault) return false;
  out->resize(static_cast<size_t>(size));
  if (WideCharToMultiByte(cp, flags, wide, n, &(*out)[0], size, nullptr, usedDefaultCheck) != size ||
      usedDefault) {
    return false;
  }
  const int back = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, out->data(), size, nullptr, 0);
  if (back != n) return false;
  std::wstring again(static_cast<size_t>(back), L'\0');
  return MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, out->data(), size, &again[0], back) == n &&
         again.compare(0, static_cast<size_t>(n), wide) == 0;
}

// `wide` for a person to read where standard output goes: in the console's
// code page on a console, else in the ANSI code page; characters missing
// there are shown as "?", never as a look-alike that could name another
// file.
std::string shown(const wchar_t* wide) {
  const int n = static_cast<int>(std::wcslen(wide));
  DWORD mode = 0;
  const UINT cp = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) ? GetConsoleOutputCP() : GetACP();
  DWORD flags = cp == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  int size = WideCharToMultiByte(cp, flags, wide, n, nullptr, 0, nullptr, nullptr);
  if (size <= 0 && flags != 0) {
    // A code page that refuses the flag: look-alikes it is.
    flags = 0;
    size = WideCharToMultiByte(cp, flags, wide, n, nullptr, 0, nullptr, nullptr);
  }
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(cp, flags, wide, n, &out[0], size, nullptr, nullptr);
  return out;
}

}  // namespace

void readArguments(int argc, char** argv, ProgramArguments* args) {
  int wideCount = 0;
  wchar_t** wide = nullptr;
  wchar_t** env = nullptr;
  VelkorStartupInfo info = {0};
  if (__wgetmainargs(&wideCount, &wide, &env, 0, &info) < 0 || wide == nullptr) {
    // Not expected; the narrow parameters are the only ones there are.
    args->argv.assign(argv, argv + argc);
    args->shownPath = argc > 1 ? argv[1] : "";
    return;
  }
  args->storage.resize(static_cast<size_t>(wideCount));
  std::vector<bool> exact(static_cast<size_t>(wideCount), true);
  for (int i = 0; i < wideCount; ++i) {
    const wchar_t* w = wide[i];
    std::string& s = args->storage[static_cast<size_t>(i)];
    if (i <= 1) {
      static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t");
      s = narrowFromWide(reinterpret_cast<const char16_t*>(w), std::wcslen(w));
    } else {
      exact[static_cast<size_t>(i)] = exactAnsi(w, &s);
    }
  }
  args->argv.clear();
  for (int i = 0; i < wideCount; ++i) {
    args->argv.push_back(exact[static_cast<size_t>(i)] ? args->storage[static_cast<size_t>(i)].c_str()
                                                       : nullptr);
  }
  args->shownPath = wideCount > 1 ? shown(wide[1]) : "";
}

}  // namespace velkor
