// Windows paths on Linux. Everything lives under a prefix ($VELMORA_PREFIX,
// default ~/.velmora, made on first use) laid out as Wine users know it:
// $PREFIX/dosdevices/c: -> ../drive_c and z: -> /. A path component is
// matched without regard to case when no entry of exactly that name exists.
#pragma once

#include <optional>
#include <string>

namespace velmora {

// The prefix folder (host path, no trailing slash); made with its drive
// links on first use.
std::string VelmoraPrefix();

// The host path of a Windows path: "c:\Program Files\x" ->
// "$PREFIX/drive_c/Program Files/x", "Z:\tmp\a" -> "/tmp/a". Components that
// do not exist keep the case given; existing ones are found case-blind.
// Relative paths are taken from the current folder. Empty for a path that
// cannot be reached (UNC, a drive with no link); the last error is then
// ERROR_PATH_NOT_FOUND.
std::optional<std::string> HostPath(const std::string& windows_path);

// The Windows path of a host path: an absolute host path P is "Z:" + P with
// "/" turned into "\".
std::string WindowsPath(const std::string& host_path);

// The running program's own file as a Windows (Z:) path.
std::string ProgramFileName();

}  // namespace velmora
