#pragma once

#include <QWidget>
#include <deque>
#include <vector>

#include "radar/radar_axes.h"

namespace zarv::views {

// One gate's Doppler spectra over the last minutes: a row a second, newest at
// the top, Doppler across, coloured between the noise and the strongest bin.
class WaterfallWidget : public QWidget {
  public:
    explicit WaterfallWidget(QWidget* parent = nullptr);

    // A new row; a spectrum of another length starts the picture again.
    void add(const std::vector<double>& power, double record_period_s);
    void clear();
    void setRowsKept(int rows);
    void setAxes(const radar::RadarAxes& axes) { axes_ = axes; }
    int rows() const { return static_cast<int>(rows_.size()); }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::deque<std::vector<float>> rows_;  // dB, newest first
    int rows_kept_ = 600;
    double period_s_ = 0;
    radar::RadarAxes axes_;
};

}  // namespace zarv::views
