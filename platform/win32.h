// The Windows file-system, time, code-page and lock interfaces the engine and
// the installer are written against, provided on Linux. Paths are Windows
// paths ("c:\Program Files\Velmora", "Z:\tmp\a.zip"), mapped under the prefix
// as paths.h describes. Failures are reported the Windows way: a failure
// result and a last-error code (GetLastError), never an exception.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace velmora {

using DWORD = uint32_t;
using WORD = uint16_t;
using UINT = uint32_t;
// A file handle is a POSIX descriptor; INVALID_HANDLE_VALUE is -1.
using HANDLE = intptr_t;
constexpr HANDLE INVALID_HANDLE_VALUE = -1;
constexpr DWORD MAX_PATH = 260;

// Last-error codes used on these paths.
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_NOT_READY = 21;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_HANDLE_DISK_FULL = 39;
constexpr DWORD ERROR_FILE_EXISTS = 80;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_DIR_NOT_EMPTY = 145;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr DWORD ERROR_NO_MORE_FILES = 18;
constexpr DWORD ERROR_NOT_SAME_DEVICE = 17;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_BUFFER_OVERFLOW = 111;
constexpr DWORD ERROR_DIRECTORY = 267;

DWORD GetLastError();
void SetLastError(DWORD code);
// errno → the closest Windows error code.
DWORD WinErrorFromErrno(int err);

// File attributes.
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x02;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x04;
constexpr DWORD FILE_ATTRIBUTE_VOLUME = 0x08;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

DWORD GetFileAttributesA(const char* path);
bool SetFileAttributesA(const char* path, DWORD attributes);
// One level: fails with ERROR_PATH_NOT_FOUND when the parent is missing and
// ERROR_ALREADY_EXISTS when the name exists.
bool CreateDirectoryA(const char* path, void* security_attributes);
bool RemoveDirectoryA(const char* path);
bool DeleteFileA(const char* path);
// Replaces new_name whole (temporary beside it, then rename) unless
// fail_if_exists; keeps the source's modification time and permission bits.
bool CopyFileA(const char* existing, const char* new_name, bool fail_if_exists);
bool MoveFileA(const char* existing, const char* new_name);

// CreateFileA and the handle calls.
constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD FILE_SHARE_READ = 1;
constexpr DWORD FILE_SHARE_WRITE = 2;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;
// Without it a folder cannot be opened, as on Windows.
constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000;
HANDLE CreateFileA(const char* path, DWORD access, DWORD share_mode, void* security_attributes,
                   DWORD creation_disposition, DWORD flags, HANDLE template_file);
bool CloseHandle(HANDLE handle);
bool FlushFileBuffers(HANDLE handle);

// File times: 100 ns intervals since 1601-01-01.
struct FILETIME {
  DWORD dwLowDateTime = 0;
  DWORD dwHighDateTime = 0;
};
// DOS date and time are local time of the process's time zone. As on
// Windows, these two only change the form: the FILETIME they make or take
// is a local one, and LocalFileTimeToFileTime / FileTimeToLocalFileTime move
// it to or from UTC with the zone's offset at that instant (DST included).
bool DosDateTimeToFileTime(WORD fat_date, WORD fat_time, FILETIME* file_time);
bool FileTimeToDosDateTime(const FILETIME* file_time, WORD* fat_date, WORD* fat_time);
bool LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc);
bool FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local);
// Null arguments leave that time alone. Last-write is the modification
// time, last-access the access time; Linux has no creation time to set, so
// it is ignored (and GetFileTime reports the modification time for it).
bool SetFileTime(HANDLE handle, const FILETIME* creation, const FILETIME* last_access,
                 const FILETIME* last_write);
bool GetFileTime(HANDLE handle, FILETIME* creation, FILETIME* last_access, FILETIME* last_write);

// Directory search: FindFirstFileA takes a path whose last part may hold
// "*" and "?", matched without regard to case.
struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes = 0;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh = 0;
  DWORD nFileSizeLow = 0;
  std::string cFileName;
};
HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data);
bool FindNextFileA(HANDLE find, WIN32_FIND_DATAA* data);
bool FindClose(HANDLE find);

// Temporary files: the temp folder is $TMPDIR or /tmp as a Z: path with a
// trailing backslash. GetTempFileNameA with unique 0 creates the file
// (exclusively, mode 0600) as PREFIX + up to four hex digits + ".TMP".
DWORD GetTempPathA(DWORD buffer_length, char* buffer);
UINT GetTempFileNameA(const char* path, const char* prefix, UINT unique, char* temp_file_name);
// A temporary file is private (0600) while it is written; once it becomes a
// file of the user's, it gets the mode of any new file: 0666 less the umask.
bool GiveNewFileMode(const char* path);

// Drives.
constexpr UINT DRIVE_UNKNOWN = 0;
constexpr UINT DRIVE_NO_ROOT_DIR = 1;
constexpr UINT DRIVE_REMOVABLE = 2;
constexpr UINT DRIVE_FIXED = 3;
constexpr UINT DRIVE_REMOTE = 4;
constexpr UINT DRIVE_CDROM = 5;
constexpr UINT DRIVE_RAMDISK = 6;
UINT GetDriveTypeA(const char* root_path);
bool GetDiskFreeSpaceExA(const char* directory, uint64_t* free_to_caller, uint64_t* total,
                         uint64_t* total_free);
DWORD GetFullPathNameA(const char* file_name, DWORD buffer_length, char* buffer, char** file_part);

// Code pages: the ANSI code page is UTF-8 (65001), the OEM one 437.
bool AreFileApisANSI();
UINT GetACP();
UINT GetOEMCP();
// Converts an OEM (CP437) string into the ANSI one (UTF-8). The result can be
// up to three times as long, so it is returned as a string.
std::string OemToCharA(const std::string& oem);

// A re-entrant lock, and whether the process runs more than one thread.
struct CRITICAL_SECTION {
  std::recursive_mutex mutex;
};
void InitializeCriticalSection(CRITICAL_SECTION* section);
void EnterCriticalSection(CRITICAL_SECTION* section);
void LeaveCriticalSection(CRITICAL_SECTION* section);
void DeleteCriticalSection(CRITICAL_SECTION* section);
bool IsMultiThread();

}  // namespace velmora
