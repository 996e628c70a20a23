#include "unknown_keys.h"

#include <QRegularExpression>
#include <algorithm>
#include <vector>

#include "radar_geometry.h"

namespace zarv::station {

namespace {
// Letters to change, add or drop to turn a into b, case aside.
int EditDistance(const QString& a, const QString& b) {
    const QString x = a.toLower(), y = b.toLower();
    std::vector<int> row(static_cast<std::size_t>(y.size()) + 1);
    for (std::size_t j = 0; j < row.size(); ++j) row[j] = static_cast<int>(j);
    for (qsizetype i = 1; i <= x.size(); ++i) {
        int diagonal = row[0];
        row[0] = static_cast<int>(i);
        for (qsizetype j = 1; j <= y.size(); ++j) {
            const auto k = static_cast<std::size_t>(j);
            const int above = row[k];
            row[k] =
                std::min({above + 1, row[k - 1] + 1, diagonal + (x[i - 1] == y[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row.back();
}

bool BeginsWithKnownKey(const QString& line, const QStringList& known) {
    return std::any_of(known.begin(), known.end(), [&](const QString& key) {
        return line.startsWith(key, Qt::CaseInsensitive);
    });
}
}  // namespace

QStringList KnownConfigKeys() {
    QStringList keys;
    int count = 0;
    const ConfigKey* run_keys = ConfigKeys(&count);
    for (int i = 0; i < count; ++i) keys << QString::fromLatin1(run_keys[i].name);
    const GeometryKey* geometry_keys = GeometryKeys(&count);
    for (int i = 0; i < count; ++i) keys << QString::fromLatin1(geometry_keys[i].name);
    keys << QStringLiteral("dc_notch") << QStringLiteral("device_serial")
         << QStringLiteral("status_listen") << QStringLiteral("status_token_file")
         << QStringLiteral("auto_recovery") << QStringLiteral("log_keep_days")
         << QStringLiteral("station_name") << QStringLiteral("wigos_id")
         << QStringLiteral("bufr_dir");
    return keys;
}

QStringList UnknownKeyNotes(const ConfigLines& lines) {
    static const QRegularExpression setting(QStringLiteral("^\\s*([A-Za-z_][A-Za-z0-9_]*)\\s*="));
    const QStringList known = KnownConfigKeys();
    QStringList notes;
    for (const QByteArray& raw : lines) {
        const QString line = QString::fromLatin1(raw);
        const QRegularExpressionMatch m = setting.match(line);
        if (!m.hasMatch() || BeginsWithKnownKey(line, known)) continue;
        const QString key = m.captured(1);
        const auto nearest =
            std::min_element(known.begin(), known.end(), [&](const QString& a, const QString& b) {
                return EditDistance(key, a) < EditDistance(key, b);
            });
        notes << QStringLiteral(
                     "config.txt: the key %1 is not known and is ignored (the nearest "
                     "known key is %2)")
                     .arg(key, *nearest);
    }
    return notes;
}

}  // namespace zarv::station
