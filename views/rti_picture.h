#pragma once

#include <QDateTime>
#include <QImage>
#include <array>

#include "colour_scale.h"

namespace zarv::radar {
struct PowerColumn;
}  // namespace zarv::radar

namespace zarv::views {

// The range-time picture: one image per beam, a pixel column per stretch of time
// and a row per gate, kept as a ring so that a new column costs the same however
// long the history is. The newest column is drawn at the right.
class RtiPicture {
  public:
    static constexpr int kBeams = 3;

    // columns: how many stretches of column_s seconds the history holds.
    void reset(int columns, double column_s, int gates);
    void add(const radar::PowerColumn& column);

    int columns() const { return columns_; }
    int gates() const { return gates_; }
    const QImage& image(int beam) const { return images_[static_cast<std::size_t>(beam - 1)]; }
    // The ring's column drawn at the right edge, -1 before the first.
    qint64 newest() const { return newest_; }
    // The ring index of the newest column, as the image holds it.
    int newestIndex() const { return static_cast<int>(newest_ % columns_); }
    // The beam's picture in time order, oldest column at the left, each gate
    // row_height pixels high: what a page shows without the view's axes.
    QImage inTimeOrder(int beam, int row_height) const;
    DecibelScale scale;

  private:
    void advanceTo(qint64 index);

    std::array<QImage, kBeams> images_;
    int columns_ = 0;
    int gates_ = 0;
    double column_s_ = 1;
    qint64 newest_ = -1;
};

}  // namespace zarv::views
