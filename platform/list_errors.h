// Error numbers of moving the directory list.
#pragma once

namespace platform {

// Error number of a directory change to a drive that is not ready.
inline constexpr int kErrDeviceUnavailable = 68;
// Error number of a directory change to a folder that cannot be read.
inline constexpr int kErrPathAccess = 75;
// Error number of a directory change to a path that is no folder.
inline constexpr int kErrPathNotFound = 76;

}  // namespace platform
