#include "run_config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QStringDecoder>

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "station_error.h"
#include "sync_directory.h"

namespace zarv::station {

namespace {
#define INT_KEY(name, label) \
    { #name, label, ConfigKind::Integer, &TRunConfig::name, nullptr, nullptr }
const ConfigKey kKeys[] = {
    INT_KEY(tx_enable, "tx enable: "),
    INT_KEY(integrations, "integrations: "),
    {"dwell_time", "dwell_time: ", ConfigKind::Float, nullptr, &TRunConfig::dwell_time, nullptr},
    {"data_dir", "data_dir: ", ConfigKind::Text, nullptr, nullptr, &TRunConfig::data_dir},
    INT_KEY(relay_swith_time, "relay_swith_time: "),
    INT_KEY(ipp, "ipp: "),
    INT_KEY(pulse_length, "pulse_length: "),
    INT_KEY(lo_gate_length, "lo_gate_length: "),
    INT_KEY(start_time, "start_time: "),
    INT_KEY(resolution, "resolution: "),
    INT_KEY(test_gate_length, "test_gate_length: "),
    INT_KEY(test_gate_delay, "test_gate_delay: "),
    INT_KEY(gates, "gates: "),
    INT_KEY(audio_enable, "audio_enable: "),
    INT_KEY(dac_channel0, "dac_channel0: "),
    INT_KEY(dac_channel1, "dac_channel1: "),
    INT_KEY(reference_frequency, "reference_frequency: "),
    INT_KEY(IP_frequency, "IP_frequency: "),
    INT_KEY(QP_frequency, "QP_frequency: "),
    INT_KEY(test_frequency, "test_frequency: "),
    INT_KEY(reference_level, "reference_level: "),
    INT_KEY(ip_level, "ip_level: "),
    INT_KEY(qp_level, "qp_level: "),
    INT_KEY(test_level, "test_level: "),
};
#undef INT_KEY

char asciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool beginsWithKey(const QByteArray& line, const QByteArray& key) {
    if (line.size() < key.size()) return false;
    for (int i = 0; i < key.size(); ++i)
        if (asciiUpper(line[i]) != asciiUpper(key[i])) return false;
    return true;
}

QString valueOf(const QByteArray& line, bool keep_inner_blanks = false) {
    const qsizetype eq = line.indexOf('=');
    const QByteArray raw = eq < 0 ? line : line.mid(eq + 1);
    QByteArray value;
    if (keep_inner_blanks) {
        value = raw.trimmed();
    } else {
        value.reserve(raw.size());
        for (char c : raw)
            if (c != ' ') value.append(c);
    }
    // UTF-8, unless the bytes are not: a file saved in Latin-1 keeps working.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(value);
    return utf8.hasError() ? QString::fromLatin1(value) : text;
}

}  // namespace

int HexDigitValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9') return u - '0';
    if (u >= 'a' && u <= 'f') return u - 'a' + 10;
    if (u >= 'A' && u <= 'F') return u - 'A' + 10;
    return -1;
}

const ConfigKey* ConfigKeys(int* count) {
    *count = static_cast<int>(std::size(kKeys));
    return kKeys;
}

ConfigLines ReadConfigLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (!QFileInfo::exists(path)) throw fileNotFound();
        throw StationError(QStringLiteral("File access denied"));
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw StationError(QStringLiteral("File access denied"));
    // Lines end at CR LF, LF or a lone CR.
    ConfigLines lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c != '\n' && c != '\r') continue;
        lines << bytes.mid(start, i - start);
        if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
        start = i + 1;
    }
    lines << bytes.mid(start);
    return lines;
}

QString ConfigValue(const ConfigLines& lines, const QString& key) {
    const QByteArray wanted = key.toLatin1();
    for (const QByteArray& line : lines)
        if (beginsWithKey(line, wanted)) return valueOf(line);
    return QString();
}

QString ConfigText(const ConfigLines& lines, const QString& key) {
    const QByteArray wanted = key.toLatin1();
    for (const QByteArray& line : lines)
        if (beginsWithKey(line, wanted)) return valueOf(line, true);
    return QString();
}

QString GetConfigValue(const QString& path, const QString& key) {
    return ConfigValue(ReadConfigLines(path), key);
}

std::optional<std::int32_t> ParseConfigInteger(const QString& text) {
    int i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) return std::nullopt;
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        const int digit = HexDigitValue(text[i]);
        if (digit < 0 || digit >= base) return std::nullopt;
        value = value * base + digit;
        if (value > 0x80000000LL) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::optional<double> ParseConfigFloat(const QString& text) {
    const QByteArray bytes = text.toLatin1();
    const char* p = bytes.constData();
    const char* end = p + bytes.size();
    if (p != end && *p == '+') ++p;  // from_chars takes no leading plus
    if (p == end || *p == '+' || (p != bytes.constData() && *p == '-')) return std::nullopt;
    for (const char* q = p; q != end; ++q) {
        const char c = *q;
        const bool allowed =
            (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-';
        if (!allowed) return std::nullopt;  // refuses inf, nan and hexadecimal forms
    }
    double value = 0;
    const auto [ptr, ec] = std::from_chars(p, end, value, std::chars_format::general);
    if (ec != std::errc() || ptr != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

QString FormatGeneral(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    QString text = QString::fromLatin1(buffer);
    const qsizetype e = text.indexOf('e');
    if (e < 0) return text;
    // 1e+20 is written 1E20, 1e-05 is written 1E-5.
    QString mantissa = text.left(e);
    QString exponent = text.mid(e + 1);
    QString sign;
    if (exponent.startsWith('-')) sign = QStringLiteral("-");
    exponent.remove(0, (exponent.startsWith('-') || exponent.startsWith('+')) ? 1 : 0);
    while (exponent.size() > 1 && exponent.startsWith('0')) exponent.remove(0, 1);
    return mantissa + QStringLiteral("E") + sign + exponent;
}

QString HourDirectory(const QString& data_dir, const QDateTime& now) {
    return data_dir + now.toString(QStringLiteral("/yyyy/MM/dd/hh"));
}

namespace {
// Makes one directory level; the cause when it is not there afterwards.
QString makeLevel(const QString& path) {
    if (QFileInfo(path).isDir()) return QString();
    const bool made = ::mkdir(QFile::encodeName(path).constData(), 0777) == 0;
    if (made) SyncDirectoryOf(path);  // else a file synced inside can vanish with it
    if (made || errno == EEXIST) {
        if (QFileInfo(path).isDir()) return QString();
        return QStringLiteral("%1 is not a directory").arg(path);
    }
    return QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
}
}  // namespace

QString MakeHourTree(const QString& data_dir, const QDateTime& now) {
    QString failure;
    if (!data_dir.isEmpty()) failure = makeLevel(data_dir);
    QString level = data_dir;
    for (const char* part : {"/yyyy", "/MM", "/dd", "/hh"}) {
        level += now.toString(QString::fromLatin1(part));
        const QString cause = makeLevel(level);
        if (failure.isEmpty()) failure = cause;
    }
    return failure;
}

QString DataFileStem(const QString& data_dir, const QDateTime& now) {
    return HourDirectory(data_dir, now) + QStringLiteral("/") +
           now.toString(QStringLiteral("yyyyMMddhhmmss"));
}

}  // namespace zarv::station
