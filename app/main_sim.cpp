// zarv-sim: the station on the simulated controller.
#include <QString>

#include "app/station_main.h"
#include "simulator/sim_controller.h"
#include "simulator/sim_waveform.h"

using namespace zarv::app;
using namespace zarv::sim;

int main(int argc, char** argv) {
    SimController controller(qEnvironmentVariable("ZARV_SIM_FLASH"),
                             qEnvironmentVariable("ZARV_SIM_TRACE"), SimClockFromEnvironment());
    controller.setFaultPlan(SimFaultPlan::FromEnvironment());
    controller.setNoise(SimNoiseFromEnvironment());
    return RunStation(argc, argv, controller);
}
