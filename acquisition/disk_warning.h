#pragma once

#include <QString>

namespace zarv::acquisition {

// How long the data disk lasts at the current rate, watched while a run
// records: a warning when less than a day and again when less than an hour
// is left, each said once as the level is reached.
class DiskWarning {
  public:
    enum class Level { None, UnderADay, UnderAnHour };

    // hours_left: at the current rate; below 0 when nothing is known. The text
    // of a level just reached, or empty.
    QString look(double hours_left, const QString& data_dir);
    Level level() const { return level_; }
    // "less than a day of recording left", or empty.
    QString text() const;

  private:
    Level level_ = Level::None;
};

}  // namespace zarv::acquisition
