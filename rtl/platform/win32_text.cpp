// Names in UTF-8 and UTF-16, the names the system is given for disk files, and wildcards.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include "rtl/platform/win32_text.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace rtl::platform::win32 {

// Names inside the program are UTF-8. A name that is not valid UTF-8 (typed into an answers file in the
// ANSI code page) is taken in that code page. Returns false when the name cannot be converted.
bool to_wide(std::string_view name, std::wstring* out) {
  out->clear();
  if (name.empty()) return true;
  for (UINT page : {static_cast<UINT>(CP_UTF8), static_cast<UINT>(CP_ACP)}) {
    const DWORD flags = page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    const int n = MultiByteToWideChar(page, flags, name.data(), static_cast<int>(name.size()), nullptr, 0);
    if (n <= 0) continue;
    out->resize(static_cast<std::size_t>(n));
    MultiByteToWideChar(page, flags, name.data(), static_cast<int>(name.size()), out->data(), n);
    return true;
  }
  return false;
}

// UTF-8 of a wide text into out (with a terminating NUL); returns its length, 0 when it does not fit.
std::size_t to_utf8(const wchar_t* text, std::size_t length, char* out, std::size_t capacity) {
  if (length == 0 || capacity == 0) return 0;
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (n <= 0 || static_cast<std::size_t>(n) >= capacity) return 0;
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out, n, nullptr, nullptr);
  out[n] = '\0';
  return static_cast<std::size_t>(n);
}

bool starts_with(const std::wstring& s, const wchar_t* prefix) { return s.rfind(prefix, 0) == 0; }

// The full path of a wide name, as the system makes it; empty when it cannot.
std::wstring full_wide_path(const std::wstring& wide) {
  // Names in the system's own notation are full already.
  if (starts_with(wide, L"\\\\.\\") || starts_with(wide, L"\\\\?\\")) return wide;
  const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return {};
  std::wstring full(n, L'\0');
  const DWORD m = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  if (m == 0 || m >= n) return {};
  full.resize(m);
  if (starts_with(full, L"\\\\.\\")) {
    // The system took the last part for a device (as it takes lpt1.txt for LPT1); the record layer has
    // decided that it is a file, so only the folder is resolved and the last part joined to it.
    const std::size_t leaf = wide.find_last_of(L"\\/:");
    // A name that is all folder ("NUL:", "C:\\x\\NUL:") has no last part to join: it names no file.
    if (leaf != std::wstring::npos && leaf + 1 == wide.size()) return {};
    std::wstring folder = full_wide_path(leaf == std::wstring::npos ? L"." : wide.substr(0, leaf + 1));
    if (folder.empty()) return {};
    if (folder.back() != L'\\') folder += L'\\';
    return folder + (leaf == std::wstring::npos ? wide : wide.substr(leaf + 1));
  }
  return full;
}

// The name the system is given for a disk file: its full path with the \\?\ prefix, so that neither the
// length limit of old programs nor the system's device names apply (the record layer has decided that it
// is a file). Names already in the system's own notation pass as they are.
bool system_name(const char* name, std::wstring* out) {
  std::wstring wide;
  if (!to_wide(name, &wide) || wide.empty()) return false;
  if (starts_with(wide, L"\\\\?\\") || starts_with(wide, L"\\\\.\\")) {
    *out = wide;
    return true;
  }
  const std::wstring full = full_wide_path(wide);
  if (full.empty()) return false;
  *out = starts_with(full, L"\\\\") ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
  return true;
}

bool is_console(HANDLE h) {
  DWORD mode = 0;
  return GetConsoleMode(h, &mode) != 0;
}

namespace {
// What a console read gave that does not fit the caller's buffer waits here.
char g_console_text[3 * 4096];
std::size_t g_console_begin = 0, g_console_end = 0;
}  // namespace

std::int64_t read_console(HANDLE h, void* data, std::size_t size, int* error) {
  if (g_console_begin == g_console_end) {
    wchar_t wide[4096];
    DWORD got = 0;
    if (!ReadConsoleW(h, wide, 4096, &got, nullptr)) {
      *error = static_cast<int>(GetLastError());
      return -1;
    }
    if (got == 0) return 0;
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(got), g_console_text,
                                      sizeof g_console_text, nullptr, nullptr);
    g_console_begin = 0;
    g_console_end = n > 0 ? static_cast<std::size_t>(n) : 0;
  }
  const std::size_t n = std::min(size, g_console_end - g_console_begin);
  std::memcpy(data, g_console_text + g_console_begin, n);
  g_console_begin += n;
  return static_cast<std::int64_t>(n);
}

bool write_console(HANDLE h, const void* data, std::size_t size, DWORD* done) {
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, static_cast<const char*>(data),
                                    static_cast<int>(size), nullptr, 0);
  if (n <= 0) return false;
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, static_cast<const char*>(data), static_cast<int>(size), wide.data(), n);
  DWORD written = 0;
  if (!WriteConsoleW(h, wide.data(), static_cast<DWORD>(n), &written, nullptr)) return false;
  *done = static_cast<DWORD>(size);
  return true;
}

}  // namespace rtl::platform::win32

namespace rtl::platform {

using namespace win32;

int expand_wildcards(const char* pattern, void (*take)(const char*, void*), void* context) {
  if (std::strpbrk(pattern, "*?") == nullptr) {
    take(pattern, context);
    return 1;
  }
  // The folder part of the pattern stays as given; only the last part matches.
  const char* last_part = pattern;
  for (const char* c = pattern; *c != '\0'; ++c) {
    if (*c == '\\' || *c == '/' || *c == ':') last_part = c + 1;
  }
  const std::size_t folder = static_cast<std::size_t>(last_part - pattern);
  std::wstring wide;
  if (!to_wide(pattern, &wide)) return 0;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(wide.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int count = 0;
  char name[MAX_PATH * 4 + 32768];
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (folder >= 32768) continue;
    std::memcpy(name, pattern, folder);
    const std::size_t n =
        to_utf8(found.cFileName, wcslen(found.cFileName), name + folder, sizeof name - folder);
    // The system matches short names too (*.fem finds x.femx): the long name must match as well.
    if (n == 0 || !wildcard_match(last_part, std::string_view(name + folder, n))) continue;
    take(name, context);
    ++count;
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return count;
}

}  // namespace rtl::platform
