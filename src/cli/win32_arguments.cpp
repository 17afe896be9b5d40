// On Windows the parameters are taken in UTF-16 as typed, never through the
// ANSI code page, whose look-alikes for characters it lacks could name
// another file or texture. The path goes on in the 8-bit form of
// wide_text.h, which the file layer turns back into the typed UTF-16; RAW
// names go into the ANSI code page (the file's bytes) only where exact.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cwchar>

#include "binfile/wide_text.h"
#include "cli/arguments.h"

namespace velkor {
namespace {

// The bytes of the n units at `wide` in code page `cp`, if every character
// has exactly one there: the bytes must read back as the same characters,
// which no best-fit look-alike, default character or invalid UTF-16 does.
bool exactIn(UINT cp, const wchar_t* wide, int n, std::string* out) {
  out->clear();
  if (n == 0) return true;
  const int size = WideCharToMultiByte(cp, 0, wide, n, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return false;
  out->resize(static_cast<size_t>(size));
  if (WideCharToMultiByte(cp, 0, wide, n, &(*out)[0], size, nullptr, nullptr) != size) return false;
  std::wstring again(static_cast<size_t>(n) + 1, L'\0');
  return MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, out->data(), size, &again[0], n + 1) == n &&
         again.compare(0, static_cast<size_t>(n), wide, static_cast<size_t>(n)) == 0;
}

// `wide` for a person to read where standard output goes: in the console's
// code page on a console, else the ANSI one; characters missing there are
// shown as "?", never as a look-alike that could name another file.
std::string shown(const wchar_t* wide) {
  const int n = static_cast<int>(std::wcslen(wide));
  DWORD mode = 0;
  const UINT cp = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) ? GetConsoleOutputCP() : GetACP();
  const DWORD flags = cp == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  int size = WideCharToMultiByte(cp, flags, wide, n, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(cp, flags, wide, n, &out[0], size, nullptr, nullptr);
    return out;
  }
  // A code page that refuses the flag: each character that has no exact
  // form there is shown as "?".
  for (int i = 0; i < n; i += size) {
    size = IS_HIGH_SURROGATE(wide[i]) && i + 1 < n && IS_LOW_SURROGATE(wide[i + 1]) ? 2 : 1;
    std::string one;
    out += exactIn(cp, wide + i, size, &one) ? one : "?";
  }
  return out;
}

}  // namespace

void readArguments(int argc, wchar_t** argv, ProgramArguments* args) {
  // Sized first, so that the strings argv points into never move.
  args->storage.resize(static_cast<size_t>(argc));
  args->argv.clear();
  for (int i = 0; i < argc; ++i) {
    const wchar_t* w = argv[i];
    std::string& s = args->storage[static_cast<size_t>(i)];
    bool exact = true;
    if (i <= 1) {
      static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t");
      s = narrowFromWide(reinterpret_cast<const char16_t*>(w), std::wcslen(w));
    } else {
      // U+FFFD stands for a character lost before the program saw it (bytes
      // that were no text of the console's code page): no name holds it.
      exact = std::wcschr(w, 0xfffd) == nullptr &&
              exactIn(GetACP(), w, static_cast<int>(std::wcslen(w)), &s);
    }
    args->argv.push_back(exact ? s.c_str() : nullptr);
  }
  args->shownPath = argc > 1 ? shown(argv[1]) : "";
}

}  // namespace velkor
