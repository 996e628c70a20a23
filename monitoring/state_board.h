#pragma once

#include <QMutex>
#include <functional>

#include "station_state.h"

namespace zarv::monitoring {

// The one copy of the station's state that threads share: the GUI thread
// changes it, the status server reads copies. Neither holds the lock for more
// than a copy.
class StateBoard {
  public:
    static constexpr int kLogLines = 20;
    static constexpr int kErrors = 5;

    void change(const std::function<void(StationState&)>& edit);
    StationState snapshot() const;
    void addLogLine(const QString& line);
    void addError(const QString& text);

  private:
    mutable QMutex mutex_;
    StationState state_;
};

}  // namespace zarv::monitoring
