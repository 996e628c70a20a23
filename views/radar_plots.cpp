#include "radar_plots.h"

#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>

#include "plot_frame.h"
#include "radar/doppler_spectrum.h"

namespace zarv::views {

namespace {
const QColor kBackground(250, 250, 250);

double Decibels(double v) {
    return 10.0 * std::log10(std::max(v, 1e-12));
}
}  // namespace

RtiWidget::RtiWidget(QWidget* parent) : QWidget(parent) {
    setMinimumSize(480, 240);
    setAccessibleName(QStringLiteral("Range-time intensity"));
}

void RtiWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    paint(p, rect());
}

SpectrumWidget::SpectrumWidget(QWidget* parent) : QWidget(parent) {
    setMinimumSize(300, 200);
    setAccessibleName(QStringLiteral("Doppler spectrum"));
}

void SpectrumWidget::show(std::vector<double> power, const radar::SpectralMoments& moments,
                          double record_period_s) {
    power_ = std::move(power);
    moments_ = moments;
    period_s_ = record_period_s;
    update();
}

void SpectrumWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), kBackground);
    const int n = static_cast<int>(power_.size());
    const double nyquist = period_s_ > 0 ? 1 / (2 * period_s_) : 1;
    const double edge = std::abs(axes.dopplerPosition(nyquist));
    double top = 70, bottom = -10;
    for (double v : power_) top = std::max(top, std::ceil(Decibels(v) / 10) * 10);
    if (moments_.measured) bottom = std::floor(Decibels(moments_.noise_per_bin) / 10) * 10 - 10;
    const PlotFrame frame = PlotFrame::Inside(rect(), -edge, edge, bottom, top);
    frame.drawAxes(p,
                   axes.physical() ? QStringLiteral("radial velocity (m/s)")
                                   : QStringLiteral("Doppler frequency (Hz)"),
                   QStringLiteral("power (dB)"));
    if (n == 0) return;
    p.setClipRect(frame.area);
    // More bins than pixel columns: each column shows the highest bin it covers.
    const int columns = std::max(1, static_cast<int>(frame.area.width()));
    const int per_column = std::max(1, n / columns);
    QPolygonF line;
    line.reserve(n / per_column + 1);
    for (int i = 0; i < n; i += per_column) {
        double top_db = bottom;
        for (int k = i; k < std::min(n, i + per_column); ++k)
            top_db = std::max(top_db, Decibels(power_[static_cast<std::size_t>(k)]));
        line << frame.map(axes.dopplerPosition(radar::BinFrequency(i, n, period_s_)), top_db);
    }
    p.setRenderHint(QPainter::Antialiasing, per_column == 1);
    p.setPen(QPen(QColor(20, 90, 170), 1.5));
    p.drawPolyline(line);
    if (!moments_.measured) return;
    const double noise = Decibels(moments_.noise_per_bin);
    p.setPen(QPen(QColor(200, 60, 40), 1, Qt::DashLine));
    p.drawLine(frame.map(-edge, noise), frame.map(edge, noise));
    if (!moments_.valid) return;  // below the SNR threshold: no echo to mark
    p.setPen(QPen(QColor(40, 150, 60), 1, Qt::DashLine));
    const double mean = axes.dopplerPosition(moments_.mean_hz);
    p.drawLine(frame.map(mean, bottom), frame.map(mean, top));
}

ProfileWidget::ProfileWidget(QString label, QColor colour, QWidget* parent)
    : QWidget(parent), label_(std::move(label)), colour_(std::move(colour)) {
    setMinimumSize(170, 200);
    setAccessibleName(label_);
}

void ProfileWidget::show(std::vector<double> values, double low, double high, QString label,
                         bool folds) {
    values_ = std::move(values);
    low_ = low;
    high_ = high;
    folds_ = folds;
    if (label != label_) {
        label_ = std::move(label);
        setAccessibleName(label_);
    }
    update();
}

void ProfileWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), kBackground);
    const int gates = static_cast<int>(values_.size());
    const PlotFrame frame = PlotFrame::Inside(rect(), low_, high_, axes.gatePosition(0.5),
                                              axes.gatePosition(std::max(gates, 1) + 0.5));
    frame.drawAxes(p, label_,
                   axes.physical() ? QStringLiteral("range (km)") : QStringLiteral("gate"));
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipRect(frame.area);
    p.setPen(QPen(colour_, 1.5));
    p.setBrush(colour_);
    QPointF last;
    bool joined = false;
    for (int g = 1; g <= gates; ++g) {
        const double v = values_[static_cast<std::size_t>(g - 1)];
        if (std::isnan(v)) {
            joined = false;
            continue;
        }
        const QPointF at = frame.map(std::clamp(v, low_, high_), axes.gatePosition(g));
        const double previous = g > 1 ? values_[static_cast<std::size_t>(g - 2)] : v;
        if (joined && !(folds_ && std::abs(v - previous) > (high_ - low_) / 2))
            p.drawLine(last, at);
        p.drawEllipse(at, 2.5, 2.5);
        last = at;
        joined = true;
    }
}

}  // namespace zarv::views
