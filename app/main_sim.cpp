// zarv-sim: the station on the simulated controller.
#include <QDir>
#include <QString>

#include "app/station_main.h"
#include "simulator/sim_controller.h"
#include "simulator/sim_waveform.h"
#include "station/run_config.h"
#include "station/station_error.h"

using namespace zarv::app;
using namespace zarv::sim;

namespace {
// Where the simulated radar looks, from the station's config.txt as it stands
// at a trigger start: the demo's radar for whatever it does not say.
SimGeometry GeometryOfStation() {
    SimGeometry g;
    using namespace zarv::station;
    ConfigLines lines;
    try {
        lines = ReadConfigLines(QDir::current().filePath(QStringLiteral("config.txt")));
    } catch (const StationError&) {
        return g;
    }
    const auto take = [&](const char* key, double& value) {
        if (const auto number = ParseConfigFloat(ConfigValue(lines, QString::fromLatin1(key))))
            value = *number;
    };
    take("radar_frequency", g.carrier_hz);
    take("range_offset", g.range_offset_ns);
    take("start_time", g.start_time_ns);
    take("resolution", g.resolution_ns);
    const char* const zenith[] = {"beam1_zenith", "beam2_zenith", "beam3_zenith"};
    const char* const azimuth[] = {"beam1_azimuth", "beam2_azimuth", "beam3_azimuth"};
    for (std::size_t b = 0; b < 3; ++b) {
        take(zenith[b], g.zenith_deg[b]);
        take(azimuth[b], g.azimuth_deg[b]);
    }
    double ipp_us = 0, integrations = 1;
    take("ipp", ipp_us);
    take("integrations", integrations);
    if (ipp_us > 0) g.record_period_s = ipp_us * 1e-6 * std::max(integrations, 1.0);
    return g;
}
}  // namespace

int main(int argc, char** argv) {
    SimController controller(qEnvironmentVariable("ZARV_SIM_FLASH"),
                             qEnvironmentVariable("ZARV_SIM_TRACE"), SimClockFromEnvironment());
    controller.setFaultPlan(SimFaultPlan::FromEnvironment());
    controller.setNoise(SimNoiseFromEnvironment());
    controller.setAtmosphere(SimAtmosphere::FromEnvironment(), &GeometryOfStation);
    return RunStation(argc, argv, controller);
}
