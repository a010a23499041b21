// Error numbers of moving the directory list.
#pragma once

namespace platform {

// Why the directory list could not move to a path; None when it did.
enum class ListError {
  None = 0,
  DeviceUnavailable = 68,  // the drive is not ready
  PathAccess = 75,         // the folder cannot be read
  PathNotFound = 76,       // the path is no folder
};

}  // namespace platform
