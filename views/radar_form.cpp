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
    resize(1100, 820);
    rti = new RtiWidget(this);
    spectrum = new SpectrumWidget(this);
    snr_profile = new ProfileWidget(QStringLiteral("SNR (dB)"), QColor(170, 60, 30), this);
    doppler_profile =
        new ProfileWidget(QStringLiteral("mean Doppler (Hz)"), QColor(30, 120, 60), this);
    moments_label = new QLabel(this);
    NameValueLabel(moments_label, QStringLiteral("Moments"));
    moments_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    moments_label->setMinimumWidth(210);
    moments_label->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    auto* lower = new QHBoxLayout;
    lower->addWidget(spectrum, 3);
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
    row->addStretch(1);
    connect(minutes_box, &QSpinBox::valueChanged, this, [this] { resetHistory(); });
    for (QComboBox* box : {beam_box, points_box})
        connect(box, &QComboBox::currentIndexChanged, this, &TRadarForm::refreshAll);
    for (QSpinBox* box : {gate_box, averages_box})
        connect(box, &QSpinBox::valueChanged, this, &TRadarForm::refreshAll);
    return bar;
}

// A new span redraws the picture from the columns kept.
void TRadarForm::resetHistory() {
    const int minutes = minutes_box->value();
    rti->minutes = minutes;
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

void TRadarForm::refreshView() {
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
    }
}

void TRadarForm::refreshAll() {
    refreshes_ = 0;
    refreshView();
}

void TRadarForm::showMoments(int beam, int gate, double period_s) {
    const double delay_us =
        (settings_.start_time + (gate - 1) * double(settings_.resolution)) / 1e3;
    QString text = QStringLiteral("Beam %1, gate %2 (%3 \u00b5s)\n\n")
                       .arg(beam)
                       .arg(gate)
                       .arg(delay_us, 0, 'f', 2);
    const SpectralMoments& m = gate_.moments;
    if (!m.valid) {
        text += QStringLiteral("Waiting for %1 records").arg(analysis_.points());
    } else {
        const double bin_hz = 1.0 / (analysis_.points() * period_s);
        text += QStringLiteral(
                    "Power %1 dB\nSNR %2 dB\nMean Doppler %3 Hz\nWidth %4 Hz\nNoise %5 dB per "
                    "bin\n\n%6 spectra of %7 points\nBin %8 Hz, \u00b1%9 Hz")
                    .arg(m.power_db, 0, 'f', 2)
                    .arg(m.snr_db, 0, 'f', 2)
                    .arg(m.mean_hz, 0, 'f', 2)
                    .arg(m.width_hz, 0, 'f', 2)
                    .arg(10 * std::log10(std::max(m.noise_per_bin, 1e-12)), 0, 'f', 1)
                    .arg(gate_.blocks)
                    .arg(analysis_.points())
                    .arg(bin_hz, 0, 'g', 3)
                    .arg(1 / (2 * period_s), 0, 'g', 4);
    }
    moments_label->setText(text);
}

void TRadarForm::showProfiles(double period_s) {
    std::vector<double> snr;
    std::vector<double> doppler;
    double top = 10;
    for (const SpectralMoments& m : profile_) {
        snr.push_back(m.valid ? m.snr_db : std::nan(""));
        doppler.push_back(m.valid ? m.mean_hz : std::nan(""));
        if (m.valid) top = std::max(top, std::ceil(m.snr_db / 10) * 10);
    }
    const double nyquist = period_s > 0 ? 1 / (2 * period_s) : 1;
    snr_profile->show(std::move(snr), 0, top);
    doppler_profile->show(std::move(doppler), -nyquist, nyquist);
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
