#include "waterfall.h"

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "colour_scale.h"
#include "plot_frame.h"
#include "radar/doppler_spectrum.h"

namespace zarv::views {

WaterfallWidget::WaterfallWidget(QWidget* parent) : QWidget(parent) {
    setMinimumSize(200, 200);
    setAccessibleName(QStringLiteral("Doppler waterfall"));
}

void WaterfallWidget::add(const std::vector<double>& power, double record_period_s) {
    if (power.empty()) return;
    if (!rows_.empty() && rows_.front().size() != power.size()) rows_.clear();
    std::vector<float> row(power.size());
    std::transform(power.begin(), power.end(), row.begin(), [](double p) {
        return static_cast<float>(10 * std::log10(std::max(p, 1e-12)));
    });
    rows_.push_front(std::move(row));
    while (static_cast<int>(rows_.size()) > rows_kept_) rows_.pop_back();
    period_s_ = record_period_s;
    update();
}

void WaterfallWidget::clear() {
    rows_.clear();
    update();
}

void WaterfallWidget::setRowsKept(int rows) {
    rows_kept_ = std::max(rows, 1);
    while (static_cast<int>(rows_.size()) > rows_kept_) rows_.pop_back();
    update();
}

void WaterfallWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(250, 250, 250));
    const double nyquist_hz = period_s_ > 0 ? 1 / (2 * period_s_) : 1;
    const double edge = std::abs(axes_.dopplerPosition(nyquist_hz));
    const PlotFrame frame = PlotFrame::Inside(rect(), -edge, edge, -rows_kept_, 0);
    frame.drawAxes(p,
                   axes_.physical() ? QStringLiteral("radial velocity (m/s)")
                                    : QStringLiteral("Doppler frequency (Hz)"),
                   QStringLiteral("seconds before now"));
    if (rows_.empty()) return;
    const int n = static_cast<int>(rows_.front().size());
    std::vector<float> all;
    for (const auto& row : rows_) all.insert(all.end(), row.begin(), row.end());
    // The scale runs from the typical bin (the noise) to the strongest.
    std::nth_element(all.begin(), all.begin() + static_cast<long>(all.size() / 2), all.end());
    const DecibelScale scale{all[all.size() / 2] - 3.0,
                             *std::max_element(all.begin(), all.end()) + 0.1};
    QImage image(n, static_cast<int>(rows_.size()), QImage::Format_RGB32);
    // Bin i lies at frequency BinFrequency(i); on a velocity axis the order flips.
    const bool flipped = axes_.dopplerPosition(1) < 0;
    for (int y = 0; y < image.height(); ++y)
        for (int i = 0; i < n; ++i)
            image.setPixel(
                flipped ? n - 1 - i : i, y,
                scale.colourOf(rows_[static_cast<std::size_t>(y)][static_cast<std::size_t>(i)]));
    // Each bin's column is centred on its frequency.
    const double bin_hz = 2 * nyquist_hz / n;
    const double a = frame.map(axes_.dopplerPosition(-nyquist_hz - bin_hz / 2), 0).x();
    const double b = frame.map(axes_.dopplerPosition(nyquist_hz - bin_hz / 2), 0).x();
    const double top = frame.map(0, 0).y();
    const double bottom = frame.map(0, -static_cast<double>(rows_.size())).y();
    p.setClipRect(frame.area);
    p.drawImage(QRectF(std::min(a, b), top, std::abs(b - a), bottom - top), image);
}

}  // namespace zarv::views
