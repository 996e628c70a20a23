// zarv: the station on the radar controller behind its FTDI bridge.
#include "app/station_main.h"
#include "device_IO/ftdi_libftdi.h"

using namespace zarv::app;
using namespace zarv::device_io;

int main(int argc, char** argv) {
    LibFtdiApi bridge;
    return RunStation(argc, argv, bridge);
}
