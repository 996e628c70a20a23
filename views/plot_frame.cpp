#include "plot_frame.h"

#include <cmath>

namespace zarv::views {

double NiceStep(double span, int count) {
    if (!(span > 0) || count < 1) return 1;
    const double raw = span / count;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0})
        if (raw <= m * power) return m * power;
    return 10 * power;
}

PlotFrame PlotFrame::Inside(const QRectF& widget, double x0, double x1, double y0, double y1) {
    PlotFrame f;
    f.area = widget.adjusted(52, 8, -10, -34);
    f.x0 = x0;
    f.x1 = x1 > x0 ? x1 : x0 + 1;
    f.y0 = y0;
    f.y1 = y1 > y0 ? y1 : y0 + 1;
    return f;
}

QPointF PlotFrame::map(double x, double y) const {
    return {area.left() + (x - x0) / (x1 - x0) * area.width(),
            area.bottom() - (y - y0) / (y1 - y0) * area.height()};
}

void PlotFrame::drawAxes(QPainter& p, const QString& x_label, const QString& y_label) const {
    p.save();
    p.setPen(QColor(110, 110, 110));
    p.drawRect(area);
    const QFontMetrics metrics = p.fontMetrics();
    const double xs = NiceStep(x1 - x0, 6);
    for (double x = std::ceil(x0 / xs) * xs; x <= x1 + 1e-9 * xs; x += xs) {
        const QPointF at = map(x, y0);
        p.drawLine(at, at + QPointF(0, 4));
        const QString text = QString::number(std::abs(x) < 1e-9 * xs ? 0.0 : x, 'g', 4);
        p.drawText(QPointF(at.x() - metrics.horizontalAdvance(text) / 2.0, at.y() + 16), text);
    }
    const double ys = NiceStep(y1 - y0, 5);
    for (double y = std::ceil(y0 / ys) * ys; y <= y1 + 1e-9 * ys; y += ys) {
        const QPointF at = map(x0, y);
        p.drawLine(at, at - QPointF(4, 0));
        const QString text = QString::number(std::abs(y) < 1e-9 * ys ? 0.0 : y, 'g', 4);
        p.drawText(QPointF(at.x() - 6 - metrics.horizontalAdvance(text), at.y() + 4), text);
    }
    p.drawText(QRectF(area.left(), area.bottom() + 18, area.width(), 16), Qt::AlignHCenter,
               x_label);
    p.translate(12, area.center().y());
    p.rotate(-90);
    p.drawText(QRectF(-area.height() / 2, -10, area.height(), 16), Qt::AlignHCenter, y_label);
    p.restore();
}

}  // namespace zarv::views
