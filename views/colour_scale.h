#pragma once

#include <QRgb>

namespace zarv::views {

// A perceptually even scale from dark blue through green to yellow; fraction is
// clamped to 0..1.
QRgb ColourOf(double fraction);

// Decibels mapped linearly onto the scale between a floor and a ceiling.
struct DecibelScale {
    double floor_db = 0;
    double ceiling_db = 70;
    QRgb colourOf(double db) const { return ColourOf((db - floor_db) / (ceiling_db - floor_db)); }
};

}  // namespace zarv::views
