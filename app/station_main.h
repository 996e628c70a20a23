#pragma once

class FtApi;

// Program start: the main window (which reads config.txt as it is created), the
// hidden graph and About windows, then the event loop until the main window closes.
int RunStation(int argc, char** argv, FtApi& api);
