#pragma once

#include <QPainter>
#include <QRect>

#include "plot_frame.h"
#include "radar/radar_axes.h"
#include "rti_picture.h"

namespace zarv::views {

// The range-time picture as the radar view shows it: three strips, beam 1 at
// the top, time running to the right, gate numbers or ranges on the left and
// their range delays on the right, and a colour bar in dB. Drawn on a widget
// or, for a station without a window, on an image.
class RtiDrawing {
  public:
    RtiPicture picture;
    int start_time_ns = 0;  // gate 1's delay
    int resolution_ns = 0;  // from one gate to the next
    double minutes = 10;
    radar::RadarAxes axes;

    void paint(QPainter& p, const QRect& rect) const;

  private:
    void drawStrip(QPainter& p, const QRectF& strip, int beam) const;
    void drawDelays(QPainter& p, const PlotFrame& frame, int gates) const;
    void drawColourBar(QPainter& p, const QRectF& bar) const;
};

}  // namespace zarv::views
