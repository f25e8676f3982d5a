#include "archive/base/file_info.h"

#include "archive/base/directories.h"
#include "platform/sysutils.h"
#include "platform/win32.h"

namespace velmora {

uint32_t SetFileDosDateTime(const std::string& FileName, uint32_t DosDateTime) {
  if (FileName.size() > kMaxPathLength) return ERROR_FILENAME_EXCED_RANGE;
  HANDLE file = CreateFileA(FileName.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, 0);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  FILETIME local, utc;
  uint32_t error = ERROR_SUCCESS;
  const auto date = static_cast<WORD>(DosDateTime >> 16);
  const auto time = static_cast<WORD>(DosDateTime & 0xFFFF);
  if (!DosDateTimeToFileTime(date, time, &local) || !LocalFileTimeToFileTime(&local, &utc) ||
      !SetFileTime(file, nullptr, nullptr, &utc)) {
    error = GetLastError();
  }
  CloseHandle(file);
  return error;
}

uint32_t SetFileUnixTime(const std::string& FileName, int64_t Seconds) {
  // FILETIME counts 100 ns from 1601-01-01, 11,644,473,600 s before 1970.
  constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
  constexpr int64_t kTicksPerSecond = 10000000;
  if (FileName.size() > kMaxPathLength) return ERROR_FILENAME_EXCED_RANGE;
  if (Seconds < -kSecondsFrom1601To1970) Seconds = -kSecondsFrom1601To1970;
  const auto ticks = static_cast<uint64_t>((Seconds + kSecondsFrom1601To1970) * kTicksPerSecond);
  FILETIME utc;
  utc.dwLowDateTime = static_cast<DWORD>(ticks);
  utc.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  HANDLE file = CreateFileA(FileName.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, 0);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  const uint32_t error = SetFileTime(file, nullptr, nullptr, &utc) ? ERROR_SUCCESS : GetLastError();
  CloseHandle(file);
  return error;
}

uint32_t SetFileAttributesOf(const std::string& FileName, uint32_t Attributes) {
  if (FileName.size() > kMaxPathLength) return ERROR_FILENAME_EXCED_RANGE;
  return SetFileAttributesA(FileName.c_str(), Attributes) ? ERROR_SUCCESS : GetLastError();
}

int64_t FileSizeOf(const std::string& FileName) {
  if (FileName.size() > kMaxPathLength) return -1;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(FileName.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return -1;
  FindClose(search);
  return static_cast<int64_t>((uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow);
}

bool IsRemovableDrive(const std::string& Path) {
  const std::string full = ExpandFileName(Path);
  const size_t colon = full.find(':');
  if (colon == std::string::npos) return false;  // a UNC path
  return GetDriveTypeA(full.substr(0, colon + 1).c_str()) == DRIVE_REMOVABLE;
}

}  // namespace velmora
