#include "sim_atmosphere.h"

#include "sim_waveform.h"

#include <QStringList>
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zarv::sim {

namespace {
constexpr double kSpeedOfLight = 299792458.0;

double Radians(double degrees) {
    return degrees * M_PI / 180.0;
}

std::optional<SimWindLayer> ParseLayer(const QString& text) {
    const QStringList at = text.split(QLatin1Char('@'));
    const QStringList parts = at[0].split(QLatin1Char(','));
    if (at.size() > 2 || parts.size() != 3) return std::nullopt;
    SimWindLayer layer;
    double* const fields[] = {&layer.u, &layer.v, &layer.w};
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        *fields[i] = parts[i].trimmed().toDouble(&ok);
        if (!ok || std::abs(*fields[i]) > 200) return std::nullopt;
    }
    if (at.size() == 2) {
        bool ok = false;
        layer.height_m = at[1].trimmed().toDouble(&ok);
        if (!ok || layer.height_m < 0) return std::nullopt;
    }
    return layer;
}
}  // namespace

double SimGateRangeMetres(const SimGeometry& g, int gate) {
    const double delay_ns = g.start_time_ns + (gate - 1) * g.resolution_ns - g.range_offset_ns;
    return kSpeedOfLight * delay_ns * 1e-9 / 2;
}

namespace {
void Ignored(const char* name, const QString& value, const char* wanted) {
    std::fprintf(stderr, "%s ignored: '%s' is not %s\n", name, value.toLocal8Bit().constData(),
                 wanted);
}

void ReadShare(const char* name, double& share) {
    const QString text = qEnvironmentVariable(name);
    if (text.isEmpty()) return;
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (ok && value >= 0 && value <= 1)
        share = value;
    else
        Ignored(name, text, "a share from 0 to 1");
}
}  // namespace

QString SimAtmosphere::Parse(const QString& text, std::vector<SimWindLayer>& layers) {
    layers.clear();
    for (const QString& part : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const auto layer = ParseLayer(part);
        if (!layer)
            return QStringLiteral("'%1' is not U,V,W or U,V,W@HEIGHT (m/s within 200, m)")
                .arg(part);
        layers.push_back(*layer);
    }
    if (layers.empty()) return QStringLiteral("no wind given");
    std::sort(layers.begin(), layers.end(),
              [](const SimWindLayer& a, const SimWindLayer& b) { return a.height_m < b.height_m; });
    return QString();
}

std::optional<SimAtmosphere> SimAtmosphere::FromEnvironment() {
    const QString wind = qEnvironmentVariable("ZARV_SIM_WIND");
    if (wind.isEmpty()) return std::nullopt;
    SimAtmosphere atmosphere;
    if (const QString why = Parse(wind, atmosphere.wind); !why.isEmpty()) {
        std::fprintf(stderr, "ZARV_SIM_WIND ignored: %s\n", why.toLocal8Bit().constData());
        return std::nullopt;
    }
    ReadShare("ZARV_SIM_OUTLIERS", atmosphere.outlier_rate);
    ReadShare("ZARV_SIM_BIRDS", atmosphere.bird_rate);
    const QString clutter = qEnvironmentVariable("ZARV_SIM_CLUTTER");
    if (!clutter.isEmpty()) {
        bool ok = false;
        const double amplitude = clutter.toDouble(&ok);
        if (ok && amplitude >= 0 && amplitude <= 20000)
            atmosphere.clutter = amplitude;
        else
            Ignored("ZARV_SIM_CLUTTER", clutter, "an amplitude from 0 to 20000");
    }
    const QString line = qEnvironmentVariable("ZARV_SIM_INTERFERENCE");
    if (!line.isEmpty()) {
        const QStringList parts = line.split(QLatin1Char(','));
        bool hz_ok = false, amplitude_ok = false;
        const double hz = parts.size() == 2 ? parts[0].toDouble(&hz_ok) : 0;
        const double amplitude = parts.size() == 2 ? parts[1].toDouble(&amplitude_ok) : 0;
        if (hz_ok && amplitude_ok && amplitude >= 0 && amplitude <= 20000) {
            atmosphere.interference_hz = hz;
            atmosphere.interference = amplitude;
        } else {
            Ignored("ZARV_SIM_INTERFERENCE", line, "HZ,AMPLITUDE (an amplitude from 0 to 20000)");
        }
    }
    return atmosphere;
}

SimWindLayer SimAtmosphere::windAt(double height_m) const {
    if (wind.empty()) return {};
    if (height_m <= wind.front().height_m) return wind.front();
    if (height_m >= wind.back().height_m) return wind.back();
    const auto above =
        std::upper_bound(wind.begin(), wind.end(), height_m,
                         [](double h, const SimWindLayer& layer) { return h < layer.height_m; });
    const SimWindLayer& a = *(above - 1);
    const SimWindLayer& b = *above;
    const double f = (height_m - a.height_m) / (b.height_m - a.height_m);
    return {height_m, a.u + f * (b.u - a.u), a.v + f * (b.v - a.v), a.w + f * (b.w - a.w)};
}

double SimAtmosphere::radialVelocity(const SimGeometry& g, int beam, int gate) const {
    const std::size_t b = static_cast<std::size_t>(std::clamp(beam, 1, 3) - 1);
    const double zenith = Radians(g.zenith_deg[b]);
    const double azimuth = Radians(g.azimuth_deg[b]);
    const SimWindLayer at = windAt(SimGateRangeMetres(g, gate) * std::cos(zenith));
    return at.u * std::sin(zenith) * std::sin(azimuth) +
           at.v * std::sin(zenith) * std::cos(azimuth) + at.w * std::cos(zenith);
}

double SimAtmosphere::dopplerHz(const SimGeometry& g, int beam, int gate) const {
    return -2.0 * radialVelocity(g, beam, gate) * g.carrier_hz / kSpeedOfLight;
}

std::optional<double> SimAtmosphere::outlierHz(std::uint64_t run, int gate,
                                               double record_period_s) const {
    if (outlier_rate <= 0) return std::nullopt;
    const std::uint64_t key = SimMixed(run * 1000003ULL + static_cast<std::uint64_t>(gate));
    if (SimUniform(key) > outlier_rate) return std::nullopt;
    // Anywhere in the band the records can tell apart.
    return (SimUniform(SimMixed(key)) - 0.5) / record_period_s;
}

std::optional<SimAtmosphere::Passage> SimAtmosphere::birdOf(std::uint64_t run, int gate,
                                                            double record_period_s) const {
    if (bird_rate <= 0) return std::nullopt;
    const std::uint64_t key =
        SimMixed(run * 7919ULL + static_cast<std::uint64_t>(gate) * 104729ULL + 17);
    if (SimUniform(key) > bird_rate) return std::nullopt;
    const std::uint64_t more = SimMixed(key);
    return Passage{SimUniform(more) * kBirdLatestS,
                   (SimUniform(SimMixed(more)) - 0.5) / record_period_s};
}

}  // namespace zarv::sim
