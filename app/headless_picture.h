#pragma once

#include <QObject>
#include <QTimer>

#include "radar/radar_feed.h"
#include "views/rti_drawing.h"

namespace zarv::monitoring {
class StationWatch;
}  // namespace zarv::monitoring
namespace zarv::station {
struct TRunConfig;
}  // namespace zarv::station

namespace zarv::app {

// The range-time picture a headless station shows on its status page, drawn
// as the radar view draws it, ten minutes wide: every beam, with its axes and
// the colour scale. The feed takes the records on the processing thread, the
// picture takes its columns every second, and every five seconds the picture
// goes to the page. Made only while a status server serves.
class HeadlessPicture : public QObject {
    Q_OBJECT
  public:
    static constexpr int kEveryMs = 5000;
    static constexpr int kWidth = 960;
    static constexpr int kHeight = 540;

    HeadlessPicture(monitoring::StationWatch& watch, const station::TRunConfig& settings,
                    QObject* parent = nullptr);
    radar::RadarFeed& feed() { return feed_; }
    // Takes the new columns and, when due, gives the page the picture.
    void look();

  private:
    monitoring::StationWatch& watch_;
    const station::TRunConfig& settings_;
    radar::RadarFeed feed_;
    views::RtiDrawing drawing_;
    QTimer timer_;
    int looks_ = 0;
};

}  // namespace zarv::app
