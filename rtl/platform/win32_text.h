// What the Windows backend's files share: handles, names in UTF-8 and UTF-16, and the system's names
// for disk files. Only for rtl/platform's Windows sources.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "rtl/platform/platform.h"

namespace rtl::platform::win32 {

HANDLE os(Handle h);
Handle ours(HANDLE h);
// Names inside the program are UTF-8; one that is not is taken in the ANSI code page. False when the
// name cannot be converted.
bool to_wide(std::string_view name, std::wstring* out);
// UTF-8 of a wide text into out (with a terminating NUL); returns its length, 0 when it does not fit.
std::size_t to_utf8(const wchar_t* text, std::size_t length, char* out, std::size_t capacity);
bool starts_with(const std::wstring& s, const wchar_t* prefix);
// The full path of a wide name, as the system makes it; empty when it cannot.
std::wstring full_wide_path(const std::wstring& wide);
// Whether the handle is a console (not a pipe, a file or another character device).
bool is_console(HANDLE h);
// Text typed at a console arrives as wide characters and leaves as UTF-8, so that a name reaches the file
// system as typed whatever the console's code page. A read as ReadFile's; -1 with *error on a failure.
std::int64_t read_console(HANDLE h, void* data, std::size_t size, int* error);
// UTF-8 shows on a console as the characters it stands for; false for other bytes, which go out as they
// are.
bool write_console(HANDLE h, const void* data, std::size_t size, DWORD* done);
// The name the system is given for a disk file: its full path with the \\?\ prefix.
bool system_name(const char* name, std::wstring* out);

}  // namespace rtl::platform::win32
