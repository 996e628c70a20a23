#include "disk_warning.h"

namespace zarv::acquisition {

namespace {
DiskWarning::Level LevelFor(double hours_left) {
    if (hours_left < 0) return DiskWarning::Level::None;
    if (hours_left < 1) return DiskWarning::Level::UnderAnHour;
    if (hours_left < 24) return DiskWarning::Level::UnderADay;
    return DiskWarning::Level::None;
}
}  // namespace

QString DiskWarning::look(double hours_left, const QString& data_dir) {
    const Level now = LevelFor(hours_left);
    const bool worse = now > level_;
    level_ = now;  // a freed disk lowers the level; the next shortage is said again
    if (!worse) return QString();
    return QStringLiteral("Disk space: %1 at the current rate in %2 (%3 h)")
        .arg(text(), data_dir)
        .arg(hours_left, 0, 'f', 1);
}

QString DiskWarning::text() const {
    switch (level_) {
        case Level::UnderADay:
            return QStringLiteral("less than a day of recording left");
        case Level::UnderAnHour:
            return QStringLiteral("less than an hour of recording left");
        case Level::None:
            break;
    }
    return QString();
}

}  // namespace zarv::acquisition
