#include "rti_drawing.h"

#include <cmath>

#include "colour_scale.h"

namespace zarv::views {

void RtiDrawing::paint(QPainter& p, const QRect& rect) const {
    p.fillRect(rect, QColor(250, 250, 250));
    const QRectF all = QRectF(rect).adjusted(0, 0, -70, 0);
    const double strip_h = all.height() / RtiPicture::kBeams;
    for (int b = 1; b <= RtiPicture::kBeams; ++b)
        drawStrip(p, QRectF(all.left(), all.top() + (b - 1) * strip_h, all.width(), strip_h), b);
    drawColourBar(p, QRectF(all.right() + 14, all.top() + 14, 14, all.height() - 48));
}

void RtiDrawing::drawStrip(QPainter& p, const QRectF& strip, int beam) const {
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
void RtiDrawing::drawDelays(QPainter& p, const PlotFrame& frame, int gates) const {
    p.setPen(QColor(110, 110, 110));
    const double step = NiceStep(gates, 5);
    for (double g = std::ceil(0.5 / step) * step; g <= gates + 0.5; g += step) {
        const double delay_us = (start_time_ns + (g - 1) * resolution_ns) / 1000.0;
        const QPointF at = frame.map(frame.x1, axes.gatePosition(g));
        p.drawLine(at, at + QPointF(4, 0));
        p.drawText(at + QPointF(6, 4), QStringLiteral("%1 \u00b5s").arg(delay_us, 0, 'f', 2));
    }
}

void RtiDrawing::drawColourBar(QPainter& p, const QRectF& bar) const {
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

}  // namespace zarv::views
