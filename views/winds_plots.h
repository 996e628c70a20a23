#pragma once

#include <QWidget>
#include <deque>

#include "winds/wind_profiler.h"

namespace zarv::views {

// The latest wind profile: speed (m/s, bottom axis) and the direction it comes
// from (degrees, dots) against height.
class WindProfileWidget : public QWidget {
  public:
    explicit WindProfileWidget(QWidget* parent = nullptr);
    void show(const winds::WindProfile* profile);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    winds::WindProfile profile_;
    bool shown_ = false;
};

// The last hours of profiles: an arrow per period and height, pointing where the
// wind blows (east to the right, north up), coloured by speed.
class WindHistoryWidget : public QWidget {
  public:
    static constexpr double kTopSpeed = 30;  // m/s at the top of the colour scale
    explicit WindHistoryWidget(QWidget* parent = nullptr);
    void show(const std::deque<winds::WindProfile>& profiles, double hours);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::deque<winds::WindProfile> profiles_;
    double hours_ = 6;
};

}  // namespace zarv::views
