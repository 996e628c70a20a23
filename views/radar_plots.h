#pragma once

#include <QWidget>
#include <vector>

#include "plot_frame.h"
#include "radar/radar_axes.h"
#include "radar/spectral_moments.h"
#include "rti_drawing.h"

namespace zarv::views {

// The range-time picture on a widget: what RtiDrawing draws.
class RtiWidget : public QWidget, public RtiDrawing {
  public:
    explicit RtiWidget(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// A gate's Doppler spectrum in dB against frequency or radial velocity, with the
// noise level, the echo region and, when it is trusted, the mean.
class SpectrumWidget : public QWidget {
  public:
    explicit SpectrumWidget(QWidget* parent = nullptr);
    void show(std::vector<double> power, const radar::SpectralMoments& moments,
              double record_period_s);
    radar::RadarAxes axes;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::vector<double> power_;
    radar::SpectralMoments moments_;
    double period_s_ = 0;
};

// One value per gate, range upwards: the SNR or the mean Doppler profile.
class ProfileWidget : public QWidget {
  public:
    ProfileWidget(QString label, QColor colour, QWidget* parent = nullptr);
    // NaN for a gate with nothing to show. With a fold, neighbours further apart
    // than half the span are not joined: the line would cross the folding value.
    void show(std::vector<double> values, double low, double high, QString label,
              bool folds = false);
    radar::RadarAxes axes;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString label_;
    QColor colour_;
    std::vector<double> values_;
    double low_ = 0, high_ = 1;
    bool folds_ = false;
};

}  // namespace zarv::views
