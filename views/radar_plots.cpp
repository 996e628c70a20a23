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
    p.fillRect(rect(), kBackground);
    const QRectF all = QRectF(rect()).adjusted(0, 0, -70, 0);
    const double strip_h = all.height() / RtiPicture::kBeams;
    for (int b = 1; b <= RtiPicture::kBeams; ++b)
        drawStrip(p, QRectF(all.left(), all.top() + (b - 1) * strip_h, all.width(), strip_h), b);
    drawColourBar(p, QRectF(all.right() + 14, all.top() + 14, 14, all.height() - 48));
}

void RtiWidget::drawStrip(QPainter& p, const QRectF& strip, int beam) const {
    const int gates = std::max(picture.gates(), 1);
    PlotFrame frame = PlotFrame::Inside(strip, -minutes, 0, axes.gatePosition(0.5),
                                        axes.gatePosition(gates + 0.5));
    frame.area.setRight(frame.area.right() - 56);  // room for the range delays
    const QImage& image = picture.image(beam);
    if (!image.isNull() && picture.newest() >= 0) {
        // The ring's oldest part goes left of its newest part.
        const int n = picture.columns();
        const int split = picture.newestIndex() + 1;
        const double w = frame.area.width();
        const QRectF older(frame.area.left(), frame.area.top(), w * (n - split) / n,
                           frame.area.height());
        const QRectF newer(older.right(), frame.area.top(), w * split / n, frame.area.height());
        p.drawImage(older, image, QRectF(split, 0, n - split, image.height()));
        p.drawImage(newer, image, QRectF(0, 0, split, image.height()));
    }
    frame.drawAxes(
        p, beam == RtiPicture::kBeams ? QStringLiteral("minutes before now") : QString(),
        (axes.physical() ? QStringLiteral("beam %1 (km)") : QStringLiteral("beam %1 gate"))
            .arg(beam));
    drawDelays(p, frame, gates);
}

// Beside the gate ticks on the right: each gate's range delay.
void RtiWidget::drawDelays(QPainter& p, const PlotFrame& frame, int gates) const {
    p.setPen(QColor(110, 110, 110));
    const double step = NiceStep(gates, 5);
    for (double g = std::ceil(0.5 / step) * step; g <= gates + 0.5; g += step) {
        const double delay_us = (start_time_ns + (g - 1) * resolution_ns) / 1000.0;
        const QPointF at = frame.map(frame.x1, axes.gatePosition(g));
        p.drawLine(at, at + QPointF(4, 0));
        p.drawText(at + QPointF(6, 4), QStringLiteral("%1 \u00b5s").arg(delay_us, 0, 'f', 2));
    }
}

void RtiWidget::drawColourBar(QPainter& p, const QRectF& bar) const {
    const DecibelScale& s = picture.scale;
    static const QImage colours = [] {
        QImage image(1, 256, QImage::Format_RGB32);
        for (int y = 0; y < 256; ++y) image.setPixel(0, y, ColourOf(1.0 - y / 255.0));
        return image;
    }();
    p.drawImage(bar, colours);
    p.setPen(Qt::black);
    const double step = NiceStep(s.ceiling_db - s.floor_db, 5);
    for (double db = std::ceil(s.floor_db / step) * step; db <= s.ceiling_db; db += step) {
        const double y =
            bar.bottom() - (db - s.floor_db) / (s.ceiling_db - s.floor_db) * bar.height();
        p.drawText(QPointF(bar.right() + 4, y + 4), QString::number(db));
    }
    p.drawText(QPointF(bar.left(), bar.bottom() + 18), QStringLiteral("dB"));
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
