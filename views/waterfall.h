#pragma once

#include <QWidget>
#include <array>
#include <deque>
#include <vector>

#include "radar/radar_axes.h"

namespace zarv::views {

// One gate's Doppler spectra over the last minutes, per beam: a row a second,
// newest at the top, Doppler across, coloured between the noise and the
// strongest bin. A beam's rows are blank for the seconds it was not recording,
// so that its time axis stays true.
class WaterfallWidget : public QWidget {
  public:
    static constexpr int kBeams = 3;
    explicit WaterfallWidget(QWidget* parent = nullptr);

    // The second's row: the recording beam's spectrum (empty when nothing new
    // came), blank rows for the others. Another length starts every beam again.
    void addSecond(int recording_beam, const std::vector<double>& power, double record_period_s);
    void showBeam(int beam);
    void clear();
    void setRowsKept(int rows);
    void setAxes(const radar::RadarAxes& axes) { axes_ = axes; }
    // The shown beam's rows, blank ones counted, and those with a spectrum.
    int rows() const { return static_cast<int>(shownRows().size()); }
    int spectra() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    using Rows = std::deque<std::vector<float>>;  // dB, newest first; empty: blank
    const Rows& shownRows() const { return beams_[static_cast<std::size_t>(shown_ - 1)]; }

    std::array<Rows, kBeams> beams_;
    int shown_ = 1;
    std::size_t bins_ = 0;
    int rows_kept_ = 600;
    double period_s_ = 0;
    radar::RadarAxes axes_;
};

}  // namespace zarv::views
