#include "winds_plots.h"

#include <QDateTime>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "colour_scale.h"
#include "plot_frame.h"
#include "winds/wind_quality.h"

namespace zarv::views {

namespace {
const QColor kBackground(250, 250, 250);
const QColor kSuspect(140, 140, 140);

// A wind with a value that its flag says not to trust.
bool Suspect(const winds::WindProfile& profile, std::size_t h) {
    return h < profile.flags.size() && profile.flags[h] != static_cast<int>(winds::WindFlag::Good);
}

double TopHeightKm(const std::vector<double>& heights) {
    return heights.empty() ? 1 : heights.back() / 1000;
}

void Arrow(QPainter& p, QPointF at, double u, double v, double length) {
    const double speed = std::hypot(u, v);
    if (!(speed > 0)) {
        p.drawEllipse(at, 1.5, 1.5);
        return;
    }
    const QPointF dir(u / speed, -v / speed);  // north is up on the screen
    const QPointF tip = at + dir * (length / 2);
    const QPointF tail = at - dir * (length / 2);
    const QPointF side(-dir.y(), dir.x());
    p.drawLine(tail, tip);
    p.drawLine(tip, tip - dir * 4 + side * 3);
    p.drawLine(tip, tip - dir * 4 - side * 3);
}
}  // namespace

WindProfileWidget::WindProfileWidget(QWidget* parent) : QWidget(parent) {
    setMinimumSize(260, 260);
    setAccessibleName(QStringLiteral("Latest wind profile"));
}

void WindProfileWidget::show(const winds::WindProfile* profile) {
    shown_ = profile != nullptr;
    if (profile) profile_ = *profile;
    update();
}

void WindProfileWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), kBackground);
    const QRectF left(rect().left(), rect().top(), rect().width() / 2.0, rect().height());
    const QRectF right(left.right(), rect().top(), rect().width() / 2.0, rect().height());
    const double top = shown_ ? TopHeightKm(profile_.heights_m) : 1;
    double fastest = 10;
    for (const winds::Wind& w : profile_.winds)
        if (w.valid) fastest = std::max(fastest, std::ceil(winds::WindSpeed(w) / 5) * 5);
    const PlotFrame speed = PlotFrame::Inside(left, 0, fastest, 0, top);
    const PlotFrame direction = PlotFrame::Inside(right, 0, 360, 0, top);
    speed.drawAxes(p, QStringLiteral("speed (m/s)"), QStringLiteral("height (km)"));
    direction.drawAxes(p, QStringLiteral("from (degrees)"), QString());
    if (!shown_) return;
    p.setRenderHint(QPainter::Antialiasing);
    QPolygonF line;
    for (std::size_t h = 0; h < profile_.heights_m.size(); ++h) {
        const winds::Wind& w = profile_.winds[h];
        const double km = profile_.heights_m[h] / 1000;
        if (!w.valid) {
            if (line.size() > 1) p.drawPolyline(line);
            line.clear();
            continue;
        }
        line << speed.map(winds::WindSpeed(w), km);
        // A suspect wind: a hollow grey mark, on the line and off it.
        const bool suspect = Suspect(profile_, h);
        p.setPen(QPen(suspect ? kSuspect : QColor(30, 90, 170), 1.5));
        p.setBrush(suspect ? QBrush(Qt::NoBrush) : QBrush(QColor(170, 60, 30)));
        p.drawEllipse(direction.map(winds::WindFromDirection(w), km), 2.5, 2.5);
        if (suspect)
            p.drawRect(
                QRectF(speed.map(winds::WindSpeed(w), km), QSizeF(5, 5)).translated(-2.5, -2.5));
    }
    p.setPen(QPen(QColor(30, 90, 170), 1.5));
    if (line.size() > 1) p.drawPolyline(line);
}

WindHistoryWidget::WindHistoryWidget(QWidget* parent) : QWidget(parent) {
    setMinimumSize(420, 260);
    setAccessibleName(QStringLiteral("Winds of the last hours"));
}

void WindHistoryWidget::show(const std::deque<winds::WindProfile>& profiles, double hours) {
    profiles_ = profiles;
    hours_ = hours;
    update();
}

void WindHistoryWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), kBackground);
    const QRectF plot = QRectF(rect()).adjusted(0, 0, -60, 0);
    double top = 1;
    for (const auto& profile : profiles_) top = std::max(top, TopHeightKm(profile.heights_m));
    const PlotFrame frame = PlotFrame::Inside(plot, -hours_, 0, 0, top);
    frame.drawAxes(p, QStringLiteral("hours before the latest profile (UTC)"),
                   QStringLiteral("height (km)"));
    // The colour bar: speed from 0 to kTopSpeed m/s.
    const QRectF bar(plot.right() + 14, plot.top() + 10, 12, plot.height() - 50);
    for (int y = 0; y < static_cast<int>(bar.height()); ++y)
        p.fillRect(QRectF(bar.left(), bar.bottom() - y - 1, bar.width(), 1),
                   QColor::fromRgb(ColourOf(y / bar.height())));
    p.setPen(Qt::black);
    p.drawText(QPointF(bar.left() - 2, bar.bottom() + 16), QStringLiteral("0"));
    p.drawText(QPointF(bar.left() - 4, bar.top() - 2), QString::number(kTopSpeed));
    p.drawText(QPointF(bar.left() - 8, bar.bottom() + 30), QStringLiteral("m/s"));
    if (profiles_.empty()) return;
    const QDateTime latest = profiles_.back().middle;
    p.setRenderHint(QPainter::Antialiasing);
    p.setClipRect(frame.area);
    for (const auto& profile : profiles_) {
        const double x = -static_cast<double>(profile.middle.secsTo(latest)) / 3600.0;
        const std::size_t step = std::max<std::size_t>(1, profile.heights_m.size() / 16);
        for (std::size_t h = 0; h < profile.heights_m.size(); h += step) {
            const winds::Wind& w = profile.winds[h];
            if (!w.valid) continue;
            const double speed = winds::WindSpeed(w);
            if (Suspect(profile, h))
                p.setPen(QPen(kSuspect, 1.5, Qt::DashLine));
            else
                p.setPen(QPen(QColor::fromRgb(ColourOf(speed / kTopSpeed)), 2));
            Arrow(p, frame.map(x, profile.heights_m[h] / 1000), w.uvw[0], w.uvw[1], 16);
        }
    }
}

}  // namespace zarv::views
