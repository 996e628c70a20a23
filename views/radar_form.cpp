#include "radar_form.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

#include "accessible_values.h"
#include "radar/radar_feed.h"
#include "radar_plots.h"
#include "station/run_config.h"
#include "waterfall.h"

namespace zarv::views {

using namespace zarv::radar;

namespace {
constexpr double kColumnSeconds = 1.0;

QSpinBox* SpinBox(int low, int high, int value, const QString& name) {
    auto* box = new QSpinBox;
    box->setRange(low, high);
    box->setValue(value);
    box->setAccessibleName(name);
    return box;
}
}  // namespace

TRadarForm::TRadarForm(RadarFeed& feed, const station::TRunConfig& settings, QWidget* parent)
    : QWidget(parent, Qt::Window), feed_(feed), settings_(settings) {
    setWindowTitle(QStringLiteral("Radar View"));
    NameAsWindow(this);
    setObjectName(QStringLiteral("RadarForm"));
    resize(1280, 700);  // within a 1366 x 768 screen
    rti = new RtiWidget(this);
    spectrum = new SpectrumWidget(this);
    snr_profile = new ProfileWidget(QStringLiteral("SNR (dB)"), QColor(170, 60, 30), this);
    doppler_profile =
        new ProfileWidget(QStringLiteral("mean Doppler (Hz)"), QColor(30, 120, 60), this);
    moments_label = new QLabel(this);
    NameValueLabel(moments_label, QStringLiteral("Moments"));
    moments_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    moments_label->setMinimumWidth(190);
    moments_label->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    waterfall = new WaterfallWidget(this);
    auto* lower = new QHBoxLayout;
    lower->addWidget(spectrum, 3);
    lower->addWidget(waterfall, 2);
    lower->addWidget(moments_label, 0);
    lower->addWidget(snr_profile, 1);
    lower->addWidget(doppler_profile, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(buildControls());
    layout->addWidget(rti, 3);
    layout->addLayout(lower, 2);
    timer_ = new QTimer(this);
    timer_->setInterval(kRefreshMs);
    connect(timer_, &QTimer::timeout, this, &TRadarForm::refreshView);
    resetHistory();
}

QWidget* TRadarForm::buildControls() {
    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    const auto add = [&](const QString& text, QWidget* box) {
        auto* label = new QLabel(text, bar);
        label->setBuddy(box);
        row->addWidget(label);
        row->addWidget(box);
    };
    beam_box = new QComboBox(bar);
    beam_box->addItems(
        {QStringLiteral("Current"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")});
    beam_box->setAccessibleName(QStringLiteral("Beam"));
    add(QStringLiteral("&Beam"), beam_box);
    gate_box = SpinBox(1, 36, 1, QStringLiteral("Gate"));
    add(QStringLiteral("&Gate"), gate_box);
    points_box = new QComboBox(bar);
    for (int m = 16; m <= 1024; m *= 2) points_box->addItem(QString::number(m), m);
    points_box->setCurrentText(QStringLiteral("64"));
    points_box->setAccessibleName(QStringLiteral("FFT points"));
    add(QStringLiteral("FFT &points"), points_box);
    averages_box = SpinBox(1, 32, 4, QStringLiteral("Spectra averaged"));
    add(QStringLiteral("&Averaged"), averages_box);
    minutes_box = SpinBox(1, 120, 10, QStringLiteral("Minutes shown"));
    add(QStringLiteral("&Minutes"), minutes_box);
    floor_box = SpinBox(-40, 150, 0, QStringLiteral("Colour scale from, dB"));
    add(QStringLiteral("dB &from"), floor_box);
    ceiling_box = SpinBox(-30, 160, 70, QStringLiteral("Colour scale to, dB"));
    add(QStringLiteral("&to"), ceiling_box);
    row->addStretch(1);
    connect(minutes_box, &QSpinBox::valueChanged, this, [this] { resetHistory(); });
    for (QSpinBox* box : {floor_box, ceiling_box})
        connect(box, &QSpinBox::valueChanged, this, [this] { setColourScale(); });
    for (QComboBox* box : {beam_box, points_box})
        connect(box, &QComboBox::currentIndexChanged, this, &TRadarForm::refreshAll);
    for (QSpinBox* box : {gate_box, averages_box})
        connect(box, &QSpinBox::valueChanged, this, &TRadarForm::refreshAll);
    return bar;
}

// The colours are given as columns arrive: a new scale draws them again.
void TRadarForm::setColourScale() {
    if (ceiling_box->value() <= floor_box->value())
        ceiling_box->setValue(floor_box->value() + 1);  // comes back here
    rti->picture.scale = DecibelScale{double(floor_box->value()), double(ceiling_box->value())};
    resetHistory();
}

// A new span redraws the picture from the columns kept.
void TRadarForm::resetHistory() {
    const int minutes = minutes_box->value();
    rti->minutes = minutes;
    waterfall->setRowsKept(minutes * 60);
    rti->picture.reset(static_cast<int>(minutes * 60 / kColumnSeconds), kColumnSeconds,
                       feed_.gates());
    for (const PowerColumn& column : columns_) rti->picture.add(column);
    rti->update();
}

int TRadarForm::shownBeam() const {
    return beam_box->currentIndex() == 0 ? feed_.beam() : beam_box->currentIndex();
}

void TRadarForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refreshAll();
    timer_->start();
}

void TRadarForm::givePicture() {
    if (!picture_taker_) return;
    if (since_picture_.isValid() && since_picture_.elapsed() < kPictureEveryMs) return;
    since_picture_.start();
    picture_taker_(rti->grab().toImage());
}

void TRadarForm::hideEvent(QHideEvent* event) {
    timer_->stop();  // the feed keeps the columns until the window is back
    QWidget::hideEvent(event);
}

// config.txt may have been read again since: the axes and the moments follow it.
void TRadarForm::takeSettings() {
    axes_ = AxesOf(settings_);
    rti->axes = spectrum->axes = snr_profile->axes = doppler_profile->axes = axes_;
    waterfall->setAxes(axes_);
    analysis_.setMomentOptions(MomentOptionsOf(settings_));
}

void TRadarForm::refreshView() {
    takeSettings();
    std::vector<PowerColumn> columns = feed_.takeColumns();
    for (PowerColumn& column : columns) {
        rti->picture.add(column);
        columns_.push_back(std::move(column));
    }
    const qint64 kept_ms = qint64{minutes_box->maximum()} * 60 * 1000;
    while (!columns_.empty() && columns_.front().end.msecsTo(columns_.back().end) > kept_ms)
        columns_.pop_front();
    if (!columns.empty() || rti->start_time_ns != settings_.start_time ||
        rti->resolution_ns != settings_.resolution) {
        rti->start_time_ns = settings_.start_time;
        rti->resolution_ns = settings_.resolution;
        rti->update();  // the picture moves once a column is done, not at every refresh
        givePicture();
    }
    const double period_s = feed_.recordPeriodSeconds();
    analysis_.setPoints(points_box->currentData().toInt());
    const auto span = static_cast<std::size_t>(analysis_.points() * averages_box->value());
    const int beam = shownBeam();
    gate_box->setMaximum(std::max(feed_.gates(), 1));
    feed_.latest(beam, span, window_);
    gate_ = analysis_.analyse(window_, gate_box->value(), averages_box->value(), period_s);
    spectrum->show(gate_.power, gate_.moments, period_s);
    showMoments(beam, gate_box->value(), period_s);
    if (refreshes_++ % kProfileEvery == 0) {
        profile_ = analysis_.profile(window_, averages_box->value(), period_s);
        showProfiles(period_s);
        addWaterfallRow(beam, span, period_s);
    }
}

// A row a second for the beam recording, with the gate's spectrum when new
// records came since the last row; the shown beam's rows are drawn.
void TRadarForm::addWaterfallRow(int shown_beam, std::size_t span, double period_s) {
    const int key = gate_box->value() * 2048 + analysis_.points();
    if (key != waterfall_key_) waterfall->clear();
    waterfall_key_ = key;
    const int recording = feed_.beam();
    const std::uint64_t records = feed_.recordsFed();
    std::vector<double> power;
    if (records != waterfall_records_) {
        if (recording == shown_beam) {
            power = gate_.power;
        } else {
            feed_.latest(recording, span, recording_window_);
            power =
                analysis_
                    .analyse(recording_window_, gate_box->value(), averages_box->value(), period_s)
                    .power;
        }
    }
    waterfall_records_ = records;
    waterfall->addSecond(recording, power, period_s);
    waterfall->showBeam(shown_beam);
}

void TRadarForm::refreshAll() {
    refreshes_ = 0;
    refreshView();
}

void TRadarForm::showMoments(int beam, int gate, double period_s) {
    const double delay_us =
        (settings_.start_time + (gate - 1) * double(settings_.resolution)) / 1e3;
    QString text = QStringLiteral("Beam %1, gate %2 (%3 \u00b5s)\n")
                       .arg(beam)
                       .arg(gate)
                       .arg(delay_us, 0, 'f', 2);
    if (axes_.physical())
        text += QStringLiteral("Range %1 km\n").arg(axes_.gatePosition(gate), 0, 'f', 3);
    const SpectralMoments& m = gate_.moments;
    if (!m.measured) {
        moments_label->setText(text +
                               QStringLiteral("\nWaiting for %1 records").arg(analysis_.points()));
        return;
    }
    text += QStringLiteral("\nPower %1 dB\nSNR %2 dB\n")
                .arg(m.power_db, 0, 'f', 2)
                .arg(m.snr_db, 0, 'f', 2);
    if (!m.valid) {
        text += QStringLiteral("Below the %1 dB threshold\n").arg(m.threshold_db, 0, 'g', 3);
    } else {
        text += QStringLiteral("Mean Doppler %1 Hz\nWidth %2 Hz\n")
                    .arg(m.mean_hz, 0, 'f', 2)
                    .arg(m.width_hz, 0, 'f', 2);
        if (axes_.physical())
            text += QStringLiteral("Radial velocity %1 m/s\nWidth %2 m/s\n")
                        .arg(axes_.dopplerPosition(m.mean_hz), 0, 'f', 2)
                        .arg(std::abs(axes_.dopplerPosition(m.width_hz)), 0, 'f', 2);
    }
    const double bin_hz = 1.0 / (analysis_.points() * period_s);
    text += QStringLiteral("Noise %1 dB per bin\n\n%2 spectra of %3 points\nBin %4 Hz, \u00b1%5 Hz")
                .arg(10 * std::log10(std::max(m.noise_per_bin, 1e-12)), 0, 'f', 1)
                .arg(gate_.blocks)
                .arg(analysis_.points())
                .arg(bin_hz, 0, 'g', 3)
                .arg(1 / (2 * period_s), 0, 'g', 4);
    if (axes_.physical())
        text += QStringLiteral("\nNyquist %1 m/s")
                    .arg(NyquistVelocity(period_s, *axes_.carrier_hz), 0, 'f', 2);
    moments_label->setText(text);
}

// SNR for every gate measured, weak or not; the Doppler only where it is trusted.
void TRadarForm::showProfiles(double period_s) {
    std::vector<double> snr;
    std::vector<double> doppler;
    double top = 10;
    double bottom = -20;
    for (const SpectralMoments& m : profile_) {
        snr.push_back(m.measured ? m.snr_db : std::nan(""));
        doppler.push_back(m.valid ? axes_.dopplerPosition(m.mean_hz) : std::nan(""));
        if (!m.measured) continue;
        top = std::max(top, std::ceil(m.snr_db / 10) * 10);
        bottom = std::min(bottom, std::floor(m.snr_db / 10) * 10);
    }
    const double edge = std::abs(axes_.dopplerPosition(period_s > 0 ? 1 / (2 * period_s) : 1));
    snr_profile->show(std::move(snr), bottom, top, QStringLiteral("SNR (dB)"));
    doppler_profile->show(
        std::move(doppler), -edge, edge,
        axes_.physical() ? QStringLiteral("velocity (m/s)") : QStringLiteral("mean Doppler (Hz)"),
        true);
}

// Escape closes the view, as it closes a dialog.
void TRadarForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace zarv::views
