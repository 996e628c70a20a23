#pragma once

#include <QString>

namespace zarv::station {

// Who the station is, for those who take its products: optional keys of
// config.txt, kept in the dwell journal and shown wherever the station is seen
// from afar.
struct StationIdentity {
    QString name;      // station_name, free text
    QString wigos_id;  // wigos_id, "series-issuer-issue-local", e.g. 0-20000-0-12345

    bool empty() const { return name.isEmpty() && wigos_id.isEmpty(); }
    bool operator==(const StationIdentity&) const = default;
};

inline constexpr int kStationNameMost = 64;

// Why text is not a station name (1 to 64 printable characters), or empty.
QString StationNameProblem(const QString& text);
// Why text is not a WIGOS station identifier, or empty: a series of 0 to 14, an
// issuer and an issue number of 0 to 65534, and a local identifier of 1 to 16
// letters and digits, joined by "-".
QString WigosIdProblem(const QString& text);

// The four parts of a WIGOS identifier that WigosIdProblem accepted.
struct WigosParts {
    int series = 0;
    int issuer = 0;
    int issue = 0;
    QString local;
};
WigosParts SplitWigosId(const QString& text);

// "Station Andøya (WIGOS 0-20000-0-12345)", the parts that are set; empty when
// neither is.
QString IdentityText(const StationIdentity& identity);

}  // namespace zarv::station
