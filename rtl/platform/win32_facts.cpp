// The platform door on Windows: what the command line learns of files by their names.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstring>
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

}  // namespace rtl::platform
