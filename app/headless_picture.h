#pragma once

#include <QObject>
#include <QTimer>

#include "radar/radar_feed.h"
#include "views/rti_picture.h"

namespace zarv::monitoring {
class StationWatch;
}  // namespace zarv::monitoring

namespace zarv::app {

// The range-time picture a headless station shows on its status page, drawn
// as the radar view draws it, ten minutes wide, without the view's axes: the
// feed takes the records on the processing thread, the picture takes its
// columns every second, and every five seconds the current beam's picture goes
// to the page. Made only while a status server serves.
class HeadlessPicture : public QObject {
    Q_OBJECT
  public:
    static constexpr int kEveryMs = 5000;

    explicit HeadlessPicture(monitoring::StationWatch& watch, QObject* parent = nullptr);
    radar::RadarFeed& feed() { return feed_; }
    // Takes the new columns and, when due, gives the page the picture.
    void look();

  private:
    monitoring::StationWatch& watch_;
    radar::RadarFeed feed_;
    views::RtiPicture picture_;
    QTimer timer_;
    int looks_ = 0;
};

}  // namespace zarv::app
