#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <cstdint>
#include <optional>

#include "radar_geometry.h"
#include "station_identity.h"

namespace zarv::station {

// The run settings, one field per key of config.txt.
struct TRunConfig {
    std::int32_t tx_enable = 0;
    std::int32_t integrations = 0;
    double dwell_time = 0;
    QString data_dir;
    std::int32_t relay_swith_time = 0;
    std::int32_t ipp = 0;
    std::int32_t pulse_length = 0;
    std::int32_t lo_gate_length = 0;
    std::int32_t start_time = 0;
    std::int32_t resolution = 0;
    std::int32_t test_gate_length = 0;
    std::int32_t test_gate_delay = 0;
    std::int32_t gates = 0;
    std::int32_t audio_enable = 0;
    std::int32_t dac_channel0 = 0;
    std::int32_t dac_channel1 = 0;
    std::int32_t reference_frequency = 0;
    std::int32_t IP_frequency = 0;
    std::int32_t QP_frequency = 0;
    std::int32_t test_frequency = 0;
    std::int32_t reference_level = 0;
    std::int32_t ip_level = 0;
    std::int32_t qp_level = 0;
    std::int32_t test_level = 0;
    QString device_serial;  // optional: empty opens the first bridge listed
    // Optional: where the status server listens, "[ADDRESS:]PORT"; empty: off.
    QString status_listen;
    // Optional: a file whose first line is the token the status server asks for.
    QString status_token_file;
    // Optional: a lost link, a silent stream or framing errors do not end the run;
    // the controller is opened again, programmed, and the next beam follows.
    bool auto_recovery = false;
    // Optional: daily logs older than this many days are removed; 0 keeps all.
    std::int32_t log_keep_days = 0;
    // Optional: the carrier, the system delay, the beams' directions, where the
    // station stands, and how the radar view trusts its moments.
    RadarGeometry geometry;
    // Optional: the station's name and WIGOS identifier, for its products.
    StationIdentity identity;
    // Optional: where each consensus period's BUFR winds are written as it
    // closes; empty: none are.
    QString bufr_dir;
};

enum class ConfigKind { Integer, Float, Text };

// One key of config.txt: its name, its echo label and where it is stored.
struct ConfigKey {
    const char* name;
    const char* label;
    ConfigKind kind;
    std::int32_t TRunConfig::*integer;
    double TRunConfig::*floating;
    QString TRunConfig::*text;
};

// The keys in the order they are read and echoed.
const ConfigKey* ConfigKeys(int* count);

// The lines of config.txt, read at once. Throws "File not found" or "File access
// denied" when the file cannot be read.
using ConfigLines = QList<QByteArray>;
ConfigLines ReadConfigLines(const QString& path);
// The value text of the first line that begins with key (A..Z compared without
// case), blanks removed, decoded as UTF-8 (Latin-1 when it is not); empty when
// no line matches.
QString ConfigValue(const ConfigLines& lines, const QString& key);
// The same value with the blanks inside kept (a name), those around it dropped.
QString ConfigText(const ConfigLines& lines, const QString& key);
// Both in one, for a single key.
QString GetConfigValue(const QString& path, const QString& key);

// Optional sign and decimal digits, or $, 0x or 0X and hexadecimal digits; must
// fit a signed 32-bit integer.
std::optional<std::int32_t> ParseConfigInteger(const QString& text);
// 0 to 15 for a hexadecimal digit of either case, -1 for anything else.
int HexDigitValue(QChar c);
// Decimal with "." and an optional exponent; finite only.
std::optional<double> ParseConfigFloat(const QString& text);
// General format: up to 15 significant digits, no trailing zeros (2.5, 10, 1E20).
QString FormatGeneral(double value);

// data_dir/yyyy/mm/dd/hh for the given moment.
QString HourDirectory(const QString& data_dir, const QDateTime& now);
// Creates data_dir and each level of its hour directory that is missing, one level
// at a time. Returns the first level that could not be made and why, or empty.
QString MakeHourTree(const QString& data_dir, const QDateTime& now);
// The hour directory, "/" and the moment as yyyymmddhhnnss.
QString DataFileStem(const QString& data_dir, const QDateTime& now);

}  // namespace zarv::station
