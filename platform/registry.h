// The Windows registry calls the installer writes its driver configuration
// with. HKEY_LOCAL_MACHINE is kept in $PREFIX/system.reg, a REGEDIT4 text
// file that regedit and Wine can import:
//
//   REGEDIT4
//
//   [HKEY_LOCAL_MACHINE\Software\Vendor]
//   @="PDF"
//   "Folder"="c:\\Temp"
//   "Mode"=dword:00000000
//
// When the prefix is one that Wine made, system.reg is Wine's own hive file
// ("WINE REGISTRY Version 2", see registry_file.h) and is read and written
// in that form, every key and value that is not set kept as it was; a fresh
// prefix gets REGEDIT4. While Wine runs for the prefix it keeps the registry
// in memory and overwrites the file when it ends, so the calls that would
// write raise Exception saying that Wine must be closed first, a message the
// caller shows, rather than an error code a caller may pass over silently.
//
// Every change is on disk when its call returns: the hive is read, changed,
// written to a temporary file beside it, flushed and renamed over the old
// one, all under an exclusive lock, so neither a crash nor a second writer
// leaves a half-written or mixed hive. A hive that cannot be parsed is never
// overwritten: opening a key fails with ERROR_BADDB and the file stays.
// Results are Windows error codes (ERROR_SUCCESS on success).
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32.h"

namespace velmora {

using LONG = int32_t;
using BYTE = uint8_t;
using REGSAM = DWORD;
// An open key, or one of the predefined roots. Only HKEY_LOCAL_MACHINE is
// kept; the other roots fail with ERROR_INVALID_HANDLE.
using HKEY = uintptr_t;
constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000;
constexpr HKEY HKEY_CURRENT_USER = 0x80000001;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002;
constexpr HKEY HKEY_USERS = 0x80000003;

// Result codes beyond those of win32.h.
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_BADDB = 1009;
constexpr LONG ERROR_CANTREAD = 1012;
constexpr LONG ERROR_CANTWRITE = 1013;

// Access rights.
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_NOTIFY = 0x0010;
constexpr REGSAM KEY_CREATE_LINK = 0x0020;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Value types.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;

// RegCreateKeyExA options and dispositions.
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_OPTION_VOLATILE = 1;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Opens the key sub_key under key, creating it (and its missing parents) on
// disk when it does not exist. With write access in sam it fails with
// ERROR_ACCESS_DENIED when the hive cannot be written (its folder refuses
// new files, or the file is read-only). Volatile keys are not kept apart:
// they are written like the others.
LONG RegCreateKeyExA(HKEY key, const char* sub_key, DWORD reserved, char* key_class, DWORD options,
                     REGSAM sam, void* security_attributes, HKEY* result, DWORD* disposition);
// Opens an existing key: ERROR_FILE_NOT_FOUND when there is none.
LONG RegOpenKeyExA(HKEY key, const char* sub_key, DWORD options, REGSAM sam, HKEY* result);
// Writes one value (name null or empty: the key's default value). REG_SZ
// data normally counts its terminating zero; REG_DWORD data is 4 bytes.
LONG RegSetValueExA(HKEY key, const char* value_name, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD data_size);
// Reads one value as written. With data null only the type and size are
// returned; a buffer too small gives ERROR_MORE_DATA and the size needed.
LONG RegQueryValueExA(HKEY key, const char* value_name, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* data_size);
LONG RegCloseKey(HKEY key);

// The host path of the hive file of HKEY_LOCAL_MACHINE.
std::string MachineHivePath();

}  // namespace velmora
