#include "station_identity.h"

#include <QStringList>

namespace zarv::station {

namespace {
// Digits only, no sign, at most five: the WIGOS numbers fit 16 bits.
int SmallNumber(const QString& text, int most) {
    if (text.isEmpty() || text.size() > 5) return -1;
    int value = 0;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return -1;
        value = value * 10 + (c.unicode() - '0');
    }
    return value <= most ? value : -1;
}

bool LettersAndDigits(const QString& text) {
    for (QChar c : text)
        if (!(c >= QLatin1Char('0') && c <= QLatin1Char('9')) &&
            !(c >= QLatin1Char('A') && c <= QLatin1Char('Z')) &&
            !(c >= QLatin1Char('a') && c <= QLatin1Char('z')))
            return false;
    return true;
}
}  // namespace

QString StationNameProblem(const QString& text) {
    bool printable = !text.isEmpty() && text.size() <= kStationNameMost;
    for (QChar c : text) printable = printable && c.isPrint();
    if (printable) return QString();
    return QStringLiteral("'%1' is not a name of 1 to %2 printable characters")
        .arg(text.left(kStationNameMost + 8))
        .arg(kStationNameMost);
}

QString WigosIdProblem(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('-'));
    const bool valid = parts.size() == 4 && SmallNumber(parts[0], 14) >= 0 &&
                       SmallNumber(parts[1], 65534) >= 0 && SmallNumber(parts[2], 65534) >= 0 &&
                       !parts[3].isEmpty() && parts[3].size() <= 16 && LettersAndDigits(parts[3]);
    if (valid) return QString();
    return QStringLiteral(
               "'%1' is not a WIGOS station identifier (series-issuer-issue-local, "
               "for example 0-20000-0-12345)")
        .arg(text.left(48));
}

WigosParts SplitWigosId(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('-'));
    if (parts.size() != 4) return {};
    return {parts[0].toInt(), parts[1].toInt(), parts[2].toInt(), parts[3]};
}

QString IdentityText(const StationIdentity& identity) {
    if (identity.empty()) return QString();
    QString text = QStringLiteral("Station");
    if (!identity.name.isEmpty()) text += QLatin1Char(' ') + identity.name;
    if (!identity.wigos_id.isEmpty()) text += QStringLiteral(" (WIGOS %1)").arg(identity.wigos_id);
    return text;
}

}  // namespace zarv::station
