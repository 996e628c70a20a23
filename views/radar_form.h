#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QWidget>
#include <deque>
#include <functional>
#include <vector>

#include "radar/radar_analysis.h"
#include "radar/radar_axes.h"
#include "radar/radar_feed.h"

class QComboBox;
class QLabel;
class QSpinBox;
class QTimer;

namespace zarv::radar {
class RadarFeed;
}  // namespace zarv::radar

namespace zarv::station {
struct TRunConfig;
}  // namespace zarv::station

namespace zarv::views {

class ProfileWidget;
class RtiWidget;
class SpectrumWidget;
class WaterfallWidget;

// The radar view: the range-time picture of every beam, the Doppler spectrum of
// one gate with its moments and its waterfall, and the moments of every gate of a
// beam, in km and m/s when config.txt gives the carrier. Four times a second,
// while shown, it takes what the processing thread has fed in.
class TRadarForm : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kRefreshMs = 250;
    // The moments of every gate change slowly: they are computed once a second.
    static constexpr int kProfileEvery = 4;

    TRadarForm(radar::RadarFeed& feed, const station::TRunConfig& settings,
               QWidget* parent = nullptr);

    // Takes the new columns and records and draws them; the timer calls it.
    void refreshView();
    // The same, with the profiles at once: after a control changed.
    void refreshAll();
    // The beam shown below the picture: the chosen one, or the one recording.
    int shownBeam() const;
    // Given the range-time picture as drawn, at most every few seconds while
    // the view is shown and the picture moves (the status page shows it).
    static constexpr int kPictureEveryMs = 5000;
    void setPictureTaker(std::function<void(const QImage&)> taker) {
        picture_taker_ = std::move(taker);
    }

    const radar::GateSpectrum& gateSpectrum() const { return gate_; }
    const std::vector<radar::SpectralMoments>& profile() const { return profile_; }

    QComboBox* beam_box = nullptr;  // "Current", then 1 to 3
    QSpinBox* gate_box = nullptr;
    QComboBox* points_box = nullptr;
    QSpinBox* averages_box = nullptr;
    QSpinBox* minutes_box = nullptr;
    QSpinBox* floor_box = nullptr;  // the range-time picture's colour scale, dB
    QSpinBox* ceiling_box = nullptr;
    QLabel* moments_label = nullptr;
    RtiWidget* rti = nullptr;
    SpectrumWidget* spectrum = nullptr;
    ProfileWidget* snr_profile = nullptr;
    ProfileWidget* doppler_profile = nullptr;
    WaterfallWidget* waterfall = nullptr;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    void givePicture();
    QWidget* buildControls();
    void resetHistory();
    void setColourScale();
    void addWaterfallRow(int shown_beam, std::size_t span, double period_s);
    void takeSettings();
    void showMoments(int beam, int gate, double period_s);
    void showProfiles(double period_s);

    radar::RadarFeed& feed_;
    const station::TRunConfig& settings_;
    QTimer* timer_ = nullptr;
    radar::RadarAnalysis analysis_;
    std::deque<radar::PowerColumn> columns_;  // the longest history the picture can show
    radar::RecordWindow window_;              // the shown beam's newest records, its storage reused
    radar::GateSpectrum gate_;
    std::vector<radar::SpectralMoments> profile_;
    int refreshes_ = 0;
    int waterfall_key_ = -1;                // gate and points of the waterfall's rows
    std::uint64_t waterfall_records_ = 0;   // the feed's records at the last row
    radar::RecordWindow recording_window_;  // when another beam is shown
    radar::RadarAxes axes_;
    std::function<void(const QImage&)> picture_taker_;
    QElapsedTimer since_picture_;
};

}  // namespace zarv::views
