#include "waterfall.h"

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "colour_scale.h"
#include "plot_frame.h"

namespace zarv::views {

namespace {
const QColor kBackground(250, 250, 250);
}  // namespace

WaterfallWidget::WaterfallWidget(QWidget* parent) : QWidget(parent) {
    setMinimumSize(200, 200);
    setAccessibleName(QStringLiteral("Doppler waterfall"));
}

void WaterfallWidget::addSecond(int recording_beam, const std::vector<double>& power,
                                double record_period_s) {
    if (!power.empty() && power.size() != bins_) {
        clear();
        bins_ = power.size();
    }
    for (int b = 1; b <= kBeams; ++b) {
        std::vector<float> row;
        if (b == recording_beam) {
            row.resize(power.size());
            std::transform(power.begin(), power.end(), row.begin(), [](double p) {
                return static_cast<float>(10 * std::log10(std::max(p, 1e-12)));
            });
        }
        Rows& rows = beams_[static_cast<std::size_t>(b - 1)];
        rows.push_front(std::move(row));
        while (static_cast<int>(rows.size()) > rows_kept_) rows.pop_back();
    }
    if (record_period_s > 0) period_s_ = record_period_s;
    update();
}

void WaterfallWidget::showBeam(int beam) {
    if (beam < 1 || beam > kBeams || beam == shown_) return;
    shown_ = beam;
    update();
}

void WaterfallWidget::clear() {
    for (Rows& rows : beams_) rows.clear();
    update();
}

void WaterfallWidget::setRowsKept(int rows) {
    rows_kept_ = std::max(rows, 1);
    for (Rows& kept : beams_)
        while (static_cast<int>(kept.size()) > rows_kept_) kept.pop_back();
    update();
}

int WaterfallWidget::spectra() const {
    const Rows& rows = shownRows();
    return static_cast<int>(
        std::count_if(rows.begin(), rows.end(), [](const auto& row) { return !row.empty(); }));
}

void WaterfallWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), kBackground);
    const double nyquist_hz = period_s_ > 0 ? 1 / (2 * period_s_) : 1;
    const double edge = std::abs(axes_.dopplerPosition(nyquist_hz));
    const PlotFrame frame = PlotFrame::Inside(rect(), -edge, edge, -rows_kept_, 0);
    frame.drawAxes(p,
                   axes_.physical() ? QStringLiteral("radial velocity (m/s)")
                                    : QStringLiteral("Doppler frequency (Hz)"),
                   QStringLiteral("seconds before now"));
    const Rows& rows = shownRows();
    std::vector<float> all;
    for (const auto& row : rows) all.insert(all.end(), row.begin(), row.end());
    if (all.empty() || bins_ == 0) return;
    // The scale runs from the typical bin (the noise) to the strongest.
    std::nth_element(all.begin(), all.begin() + static_cast<long>(all.size() / 2), all.end());
    const DecibelScale scale{all[all.size() / 2] - 3.0,
                             *std::max_element(all.begin(), all.end()) + 0.1};
    const int n = static_cast<int>(bins_);
    QImage image(n, static_cast<int>(rows.size()), QImage::Format_RGB32);
    image.fill(kBackground);
    // Bin i lies at BinFrequency(i); on a velocity axis the order flips.
    const bool flipped = axes_.dopplerPosition(1) < 0;
    for (int y = 0; y < image.height(); ++y) {
        const std::vector<float>& row = rows[static_cast<std::size_t>(y)];
        for (int i = 0; i < static_cast<int>(row.size()); ++i)
            image.setPixel(flipped ? n - 1 - i : i, y,
                           scale.colourOf(row[static_cast<std::size_t>(i)]));
    }
    // Each bin's column is centred on its frequency.
    const double bin_hz = 2 * nyquist_hz / n;
    const double a = frame.map(axes_.dopplerPosition(-nyquist_hz - bin_hz / 2), 0).x();
    const double b = frame.map(axes_.dopplerPosition(nyquist_hz - bin_hz / 2), 0).x();
    const double top = frame.map(0, 0).y();
    const double bottom = frame.map(0, -static_cast<double>(rows.size())).y();
    p.setClipRect(frame.area);
    p.drawImage(QRectF(std::min(a, b), top, std::abs(b - a), bottom - top), image);
}

}  // namespace zarv::views
