#pragma once

namespace zarv::device_io {
class FtApi;
}  // namespace zarv::device_io

namespace zarv::app {

using device_io::FtApi;

// Program start: the main window (which reads config.txt as it is created), the
// hidden graph and About windows, then the event loop until the main window closes.
int RunStation(int argc, char** argv, FtApi& api);

}  // namespace zarv::app
