#pragma once

#include <QPainter>
#include <QRectF>
#include <QString>

namespace zarv::views {

// A plot's data range on a rectangle of the widget, with its axes and labels.
struct PlotFrame {
    QRectF area;  // inside the axes
    double x0 = 0, x1 = 1, y0 = 0, y1 = 1;

    // Leaves room for tick labels around the widget's rectangle.
    static PlotFrame Inside(const QRectF& widget, double x0, double x1, double y0, double y1);
    QPointF map(double x, double y) const;
    void drawAxes(QPainter& p, const QString& x_label, const QString& y_label) const;
};

// A tick step of 1, 2 or 5 times a power of ten that gives about `count` ticks.
double NiceStep(double span, int count);

}  // namespace zarv::views
