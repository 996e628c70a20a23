#pragma once

#include <QWidget>

#include "winds/wind_feed.h"

class QLabel;
class QTimer;

namespace zarv::radar {
class RadarFeed;
}  // namespace zarv::radar

namespace zarv::views {

// A profile as a screen reader says it: per height, speed, direction and w.
QString ProfileText(const winds::WindProfile& profile);

class WindHistoryWidget;
class WindProfileWidget;

// The winds window: the latest consensus profile and the last hours of winds,
// made on the GUI thread from the radar view's feed once a second, whether the
// window is shown or not, so that it has its history when it is opened. The
// clock is the station's (the simulated controller's time on zarv-sim).
class TWindsForm : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kPollMs = 1000;
    static constexpr double kHoursShown = 6;  // at most

    TWindsForm(const radar::RadarFeed& feed, const station::TRunConfig& settings,
               winds::WindFeed::Clock clock = &QDateTime::currentDateTimeUtc,
               QWidget* parent = nullptr);
    ~TWindsForm() override;

    // What the timer calls: take an ended dwell, and draw a closed period.
    void poll();
    // The run has ended: its last dwell and period count.
    void finishRun();
    const winds::WindFeed& windFeed() const { return feed_; }

    QLabel* status_label = nullptr;
    WindProfileWidget* profile = nullptr;
    WindHistoryWidget* history = nullptr;

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void showProfiles();

    const radar::RadarFeed& radar_feed_;
    winds::WindFeed feed_;
    int placed_listener_ = 0;
    QTimer* timer_ = nullptr;
    bool drawn_ = false;  // what the window shows
    bool drawn_available_ = false;
    QString drawn_why_;
};

}  // namespace zarv::views
