#pragma once

#include <QString>
#include <cstdio>

namespace zarv::device_io {
class FtApi;
}

namespace zarv::app {

// Exit statuses of --check-image and --verify-firmware besides 0 (accepted,
// matches); 2 stays the command line's and 5 the missing controller's, as for
// --headless.
constexpr int kExitFirmwareDiffers = 1;   // the controller holds other firmware
constexpr int kExitImageRefused = 6;      // the image is refused or cannot be read
constexpr int kExitControllerUnread = 7;  // the controller opened but could not be read

// zarv --check-image FILE: reads and checks an image as an update would,
// without a controller. Says on out what it holds and its SHA-256, or on err
// the line and the reason it is refused.
int CheckImageCommand(const QString& path, std::FILE* out, std::FILE* err);

// zarv --verify-firmware FILE: reads the controller's main sectors and code
// start and compares them with the image; the log goes to out (and to the
// daily log when the current directory is a station directory).
int VerifyFirmwareCommand(device_io::FtApi& api, const QString& path, std::FILE* out,
                          std::FILE* err);

}  // namespace zarv::app
