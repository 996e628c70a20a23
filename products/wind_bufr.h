#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

namespace zarv::station {
struct TRunConfig;
}  // namespace zarv::station
namespace zarv::winds {
struct WindProfile;
}  // namespace zarv::winds

namespace zarv::products {

// A consensus period's winds as one WMO BUFR edition 4 message, data category
// 2, common sequence 3 09 024 (wind profiler data, with the WIGOS identifier),
// coded as zarv-bufr codes it: the time is the period's end, the heights are
// above sea level, and a wind flagged anything but good is missing.
inline constexpr long kWindProfilerSequence = 309024;
inline constexpr long kMasterTablesVersion = 36;  // the first to hold 3 09 024

// The keys a message needs that config.txt does not give; empty when none.
QStringList BufrNeeds(const station::TRunConfig& settings);
// True when some height of the profile has a good wind.
bool HasGoodWind(const winds::WindProfile& profile);
// When the period ends (its middle and half its length), UTC.
QDateTime PeriodEnd(const winds::WindProfile& profile, double period_s);
// The message; empty with why in error when ecCodes refuses a value.
QByteArray WindBufrMessage(const winds::WindProfile& profile, const station::TRunConfig& settings,
                           double period_s, QString* error);

}  // namespace zarv::products
