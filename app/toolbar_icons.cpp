#include "toolbar_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <cmath>

namespace zarv::app {

namespace {
constexpr int kSize = 40;

void drawStop(QPainter& p) {
    p.setBrush(QColor(0xC0, 0x20, 0x20));
    p.drawRoundedRect(QRectF(8, 8, 24, 24), 3, 3);
}

void drawSettings(QPainter& p) {
    p.setBrush(QColor(0x60, 0x60, 0x70));
    for (int i = 0; i < 8; ++i) {
        p.save();
        p.translate(20, 20);
        p.rotate(i * 45.0);
        p.drawRect(QRectF(-3, -17, 6, 8));
        p.restore();
    }
    p.drawEllipse(QPointF(20, 20), 11, 11);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(20, 20), 4, 4);
}

void drawStart(QPainter& p) {
    p.setBrush(QColor(0x20, 0xA0, 0x30));
    const QPointF triangle[] = {{11, 7}, {33, 20}, {11, 33}};
    p.drawPolygon(triangle, 3);
}

void drawGraph(QPainter& p) {
    p.setPen(QPen(Qt::black, 2));
    p.drawLine(6, 34, 36, 34);
    p.drawLine(6, 34, 6, 5);
    p.setPen(QPen(Qt::red, 2));
    QPainterPath wave;
    wave.moveTo(7, 20);
    for (int x = 7; x <= 35; ++x) wave.lineTo(x, 20 - 10 * std::sin((x - 7) / 28.0 * 2 * M_PI));
    p.drawPath(wave);
    p.setPen(QPen(QColor(0x10, 0x90, 0x10), 2));
    QPainterPath cosine;
    cosine.moveTo(7, 10);
    for (int x = 7; x <= 35; ++x) cosine.lineTo(x, 20 - 10 * std::cos((x - 7) / 28.0 * 2 * M_PI));
    p.drawPath(cosine);
}

// A range-time picture: gates in rows, a band of echo across them.
void drawRadar(QPainter& p) {
    for (int row = 0; row < 6; ++row)
        for (int col = 0; col < 6; ++col) {
            const double echo = std::exp(-0.5 * std::pow(row - 2.5 - 0.4 * (col - 2.5), 2));
            p.setBrush(QColor::fromHsv(static_cast<int>(240 - 180 * echo), 200,
                                       static_cast<int>(90 + 150 * echo)));
            p.drawRect(QRectF(5 + 5 * col, 5 + 5 * row, 5, 5));
        }
}
}  // namespace

QIcon ToolbarIcon(int index) {
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    switch (index) {
        case 0:
            drawStop(p);
            break;
        case 1:
            drawSettings(p);
            break;
        case 2:
            drawStart(p);
            break;
        case 4:
            drawRadar(p);
            break;
        default:
            drawGraph(p);
            break;
    }
    return QIcon(pixmap);
}

}  // namespace zarv::app
