#include "wind_bufr.h"

#include <eccodes.h>

#include <cmath>
#include <memory>

#include "station/run_config.h"
#include "winds/wind_profiler.h"
#include "winds/wind_quality.h"

namespace zarv::products {

namespace {
constexpr long kDataCategory = 2;       // vertical soundings (other than satellite)
constexpr long kRadarWindProfiler = 3;  // code table 0 02 006
constexpr long kTimeAveraged = 2;       // code table 0 08 021
constexpr long kNotSuspect = 0;         // code table 0 33 002
constexpr long kSuspect = 1;
constexpr long kMissingCentre = 65535;

// Sets keys one after the other; the first refusal is kept and the rest skipped.
class Coder {
  public:
    explicit Coder(codes_handle* handle) : h_(handle) {}
    void set(const char* key, long value) {
        if (ok()) check(key, codes_set_long(h_, key, value));
    }
    void set(const QByteArray& key, long value) { set(key.constData(), value); }
    void set(const char* key, double value) {
        if (ok()) check(key, codes_set_double(h_, key, value));
    }
    void set(const QByteArray& key, double value) { set(key.constData(), value); }
    void set(const char* key, const QByteArray& text) {
        std::size_t length = static_cast<std::size_t>(text.size());
        if (ok()) check(key, codes_set_string(h_, key, text.constData(), &length));
    }
    // A number, or missing where it is not finite.
    void number(const QByteArray& key, double value) {
        if (std::isfinite(value))
            set(key, value);
        else if (ok())
            check(key.constData(), codes_set_missing(h_, key.constData()));
    }
    void missing(const QByteArray& key) {
        if (ok()) check(key.constData(), codes_set_missing(h_, key.constData()));
    }
    void levels(long count) {
        if (ok())
            check("replication",
                  codes_set_long_array(h_, "inputExtendedDelayedDescriptorReplicationFactor",
                                       &count, 1));
    }
    bool ok() const { return error_.isEmpty(); }
    const QString& error() const { return error_; }

  private:
    void check(const char* key, int status) {
        if (status != CODES_SUCCESS)
            error_ = QStringLiteral("ecCodes refused %1: %2")
                         .arg(QString::fromLatin1(key),
                              QString::fromLatin1(codes_get_error_message(status)));
    }
    codes_handle* h_;
    QString error_;
};

bool AllDigits(const QString& text) {
    for (const QChar ch : text)
        if (!ch.isDigit()) return false;
    return !text.isEmpty();
}

QByteArray Ranked(int rank, const char* key) {
    return QByteArrayLiteral("#") + QByteArray::number(rank) + '#' + key;
}

void CodeHeader(Coder& c, const QDateTime& end, long levels) {
    const QDate day = end.date();
    const QTime time = end.time();
    for (const auto& [key, value] : {std::pair<const char*, long>{"edition", 4},
                                     {"masterTableNumber", 0},
                                     {"bufrHeaderCentre", kMissingCentre},
                                     {"bufrHeaderSubCentre", 0},
                                     {"updateSequenceNumber", 0},
                                     {"dataCategory", kDataCategory},
                                     {"internationalDataSubCategory", 255},
                                     {"dataSubCategory", 0},
                                     {"masterTablesVersionNumber", kMasterTablesVersion},
                                     {"localTablesVersionNumber", 0},
                                     {"typicalYear", day.year()},
                                     {"typicalMonth", day.month()},
                                     {"typicalDay", day.day()},
                                     {"typicalHour", time.hour()},
                                     {"typicalMinute", time.minute()},
                                     {"typicalSecond", time.second()},
                                     {"numberOfSubsets", 1},
                                     {"observedData", 1},
                                     {"compressedData", 0}})
        c.set(key, value);
    c.levels(levels);
    c.set("unexpandedDescriptors", kWindProfilerSequence);
}

// A WIGOS identifier made from a WMO station number, 0-20000-0-BBSSS, also
// gives the block and station number.
void CodeStation(Coder& c, const station::TRunConfig& s, const QDateTime& end) {
    const station::WigosParts id = station::SplitWigosId(s.identity.wigos_id);
    const station::RadarGeometry& g = s.geometry;
    c.set("wigosIdentifierSeries", static_cast<long>(id.series));
    c.set("wigosIssuerOfIdentifier", static_cast<long>(id.issuer));
    c.set("wigosIssueNumber", static_cast<long>(id.issue));
    c.set("wigosLocalIdentifierCharacter", id.local.toLatin1());
    const bool wmo = id.series == 0 && id.issuer == 20000 && id.issue == 0 &&
                     id.local.size() == 5 && AllDigits(id.local);
    if (wmo) {
        c.set("blockNumber", static_cast<long>(id.local.left(2).toInt()));
        c.set("stationNumber", static_cast<long>(id.local.mid(2).toInt()));
    } else {
        c.missing("blockNumber");
        c.missing("stationNumber");
    }
    c.set("#1#latitude", *g.station_latitude);
    c.set("#1#longitude", *g.station_longitude);
    c.set("heightOfStationGroundAboveMeanSeaLevel", *g.station_altitude);
    c.missing("#1#timeSignificance");
    const QDate day = end.date();
    for (const auto& [key, value] : {std::pair<const char*, long>{"year", day.year()},
                                     {"month", day.month()},
                                     {"day", day.day()},
                                     {"hour", end.time().hour()},
                                     {"minute", end.time().minute()},
                                     {"upperAirRemoteSensingInstrumentType", kRadarWindProfiler}})
        c.set(key, value);
    // Eight characters are all 0 01 079 holds: unique for a station within a year.
    c.set("uniqueIdentifierForProfile", end.toString(QStringLiteral("MMddHHmm")).toLatin1());
    c.set("observingPlatformManufacturerModel", QByteArrayLiteral("Zarv"));
    c.set("meanFrequency", *g.radar_frequency);
    c.set("#2#timeSignificance", kTimeAveraged);
}

void CodeLevels(Coder& c, const winds::WindProfile& p, const station::TRunConfig& s) {
    const station::RadarGeometry& g = s.geometry;
    const std::size_t levels = p.heights_m.size();
    const double resolution =
        levels > 1 ? std::round(p.heights_m[1] - p.heights_m[0]) : std::nan("");
    for (std::size_t k = 0; k < levels; ++k) {
        const int n = static_cast<int>(k) + 1;
        const int flag =
            k < p.flags.size() ? p.flags[k] : static_cast<int>(winds::WindFlag::NotDetermined);
        const bool good = k < p.winds.size() && p.winds[k].valid &&
                          flag == static_cast<int>(winds::WindFlag::Good);
        c.set(Ranked(n, "height"), std::lround(p.heights_m[k] + *g.station_altitude));
        c.set(Ranked(n + 1, "latitude"), *g.station_latitude);
        c.set(Ranked(n + 1, "longitude"), *g.station_longitude);
        const char* components[] = {"u", "v", "w"};
        for (std::size_t i = 0; i < 3; ++i)
            c.number(Ranked(n, components[i]), good ? p.winds[k].uvw[i] : std::nan(""));
        for (const int rank : {2 * n - 1, 2 * n}) {
            if (good)
                c.set(Ranked(rank, "qualityInformation"), kNotSuspect);
            else if (flag == static_cast<int>(winds::WindFlag::ContaminationSuspected))
                c.set(Ranked(rank, "qualityInformation"), kSuspect);
            else
                c.missing(Ranked(rank, "qualityInformation"));
        }
        c.number(Ranked(n, "verticalResolution"), resolution);
        c.missing(Ranked(n, "horizontalWidthOfSampledVolume"));
    }
}
}  // namespace

QStringList BufrNeeds(const station::TRunConfig& s) {
    QStringList needs;
    if (s.identity.wigos_id.isEmpty()) needs << QStringLiteral("wigos_id");
    if (!s.geometry.station_latitude) needs << QStringLiteral("station_latitude");
    if (!s.geometry.station_longitude) needs << QStringLiteral("station_longitude");
    if (!s.geometry.station_altitude) needs << QStringLiteral("station_altitude");
    if (!s.geometry.radar_frequency) needs << QStringLiteral("radar_frequency");
    return needs;
}

bool HasGoodWind(const winds::WindProfile& p) {
    for (std::size_t k = 0; k < p.winds.size() && k < p.flags.size(); ++k)
        if (p.winds[k].valid && p.flags[k] == static_cast<int>(winds::WindFlag::Good)) return true;
    return false;
}

QDateTime PeriodEnd(const winds::WindProfile& p, double period_s) {
    return p.middle.toUTC().addMSecs(std::llround(period_s * 500));
}

QByteArray WindBufrMessage(const winds::WindProfile& p, const station::TRunConfig& s,
                           double period_s, QString* error) {
    if (const QStringList needs = BufrNeeds(s); !needs.isEmpty()) {
        *error = QStringLiteral("config.txt gives no ") + needs.join(QStringLiteral(", "));
        return {};
    }
    const std::unique_ptr<codes_handle, int (*)(codes_handle*)> handle(
        codes_bufr_handle_new_from_samples(nullptr, "BUFR4"), &codes_handle_delete);
    if (!handle) {
        *error = QStringLiteral("ecCodes has no BUFR4 sample");
        return {};
    }
    Coder c(handle.get());
    const QDateTime end = PeriodEnd(p, period_s);
    CodeHeader(c, end, static_cast<long>(p.heights_m.size()));
    CodeStation(c, s, end);
    c.set("timePeriod", -std::lround(period_s / 60));
    CodeLevels(c, p, s);
    c.set("pack", 1L);
    if (!c.ok()) {
        *error = c.error();
        return {};
    }
    const void* message = nullptr;
    std::size_t size = 0;
    if (codes_get_message(handle.get(), &message, &size) != CODES_SUCCESS || !message) {
        *error = QStringLiteral("ecCodes gave no message");
        return {};
    }
    return QByteArray(static_cast<const char*>(message), static_cast<qsizetype>(size));
}

}  // namespace zarv::products
