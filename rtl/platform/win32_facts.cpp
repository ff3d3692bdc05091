// The platform door on Windows: what the command line learns of files by their names.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "rtl/platform/platform.h"
#include "rtl/platform/win32_text.h"

namespace rtl::platform {

using win32::system_name;

bool file_facts(const char* name, FileFacts* facts) {
  std::wstring system;
  if (!system_name(name, &system)) return false;
  // Only the file's attributes are asked for: any program may hold it meanwhile.
  HANDLE h = CreateFileW(system.c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = GetFileInformationByHandle(h, &info) != 0;
  FILE_BASIC_INFO basic{};
  const bool times = ok && GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) != 0;
  CloseHandle(h);
  if (!ok) return false;
  facts->device = info.dwVolumeSerialNumber;
  facts->index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  facts->links = info.nNumberOfLinks;
  facts->size = static_cast<std::int64_t>((std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
  facts->modified = static_cast<std::int64_t>((std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                              info.ftLastWriteTime.dwLowDateTime);
  facts->changed = times ? basic.ChangeTime.QuadPart : facts->modified;
  facts->regular_file = (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
  return true;
}

bool same_contents(const char* a, const char* b) {
  std::wstring wa, wb;
  if (!system_name(a, &wa) || !system_name(b, &wb)) return false;
  // Subtle: one of the two is a temporary file, which the end of the run may remove meanwhile.
  constexpr DWORD kShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE ha =
      CreateFileW(wa.c_str(), GENERIC_READ, kShare, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE hb =
      CreateFileW(wb.c_str(), GENERIC_READ, kShare, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  bool same = ha != INVALID_HANDLE_VALUE && hb != INVALID_HANDLE_VALUE;
  // From the heap, for the one file that is compared: a thread that never compares pays nothing.
  const std::unique_ptr<char[]> memory(new (std::nothrow) char[2 * 65536]);
  same = same && memory != nullptr;
  char* const ba = same ? memory.get() : nullptr;
  char* const bb = same ? memory.get() + 65536 : nullptr;
  while (same) {
    DWORD na = 0, nb = 0;
    if (!ReadFile(ha, ba, 65536, &na, nullptr)) na = 0;
    DWORD got = 0;
    while (nb < na && ReadFile(hb, bb + nb, na - nb, &got, nullptr) && got > 0) nb += got;
    if (nb != na || std::memcmp(ba, bb, nb) != 0) {
      same = false;
    } else if (na == 0) {
      same = ReadFile(hb, bb, 1, &got, nullptr) && got == 0;
      break;
    }
  }
  if (ha != INVALID_HANDLE_VALUE) CloseHandle(ha);
  if (hb != INVALID_HANDLE_VALUE) CloseHandle(hb);
  return same;
}

}  // namespace rtl::platform
