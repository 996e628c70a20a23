#include "rti_picture.h"

#include <cmath>

#include "radar/radar_feed.h"

namespace zarv::views {

namespace {
const QRgb kEmpty = qRgb(24, 24, 28);  // no record in that stretch
}

void RtiPicture::reset(int columns, double column_s, int gates) {
    columns_ = std::max(columns, 1);
    column_s_ = column_s > 0 ? column_s : 1;
    gates_ = std::max(gates, 0);
    newest_ = -1;
    for (QImage& image : images_) {
        image = QImage(columns_, std::max(gates_, 1), QImage::Format_RGB32);
        image.fill(kEmpty);
    }
}

void RtiPicture::advanceTo(qint64 index) {
    if (newest_ >= 0) {
        const qint64 from = std::max(newest_ + 1, index - columns_ + 1);
        for (qint64 c = from; c <= index; ++c) {
            const int x = static_cast<int>(c % columns_);
            for (QImage& image : images_)
                for (int y = 0; y < image.height(); ++y) image.setPixel(x, y, kEmpty);
        }
    }
    newest_ = index;
}

void RtiPicture::add(const radar::PowerColumn& column) {
    const int gates = static_cast<int>(column.power_db.size());
    if (gates != gates_ || columns_ == 0) reset(columns_ > 0 ? columns_ : 600, column_s_, gates);
    if (column.beam < 1 || column.beam > kBeams || gates == 0) return;
    const auto index = static_cast<qint64>(
        std::floor(static_cast<double>(column.end.toMSecsSinceEpoch()) / (column_s_ * 1000)));
    if (newest_ >= 0 && index <= newest_ - columns_) return;  // older than the history
    if (index > newest_) advanceTo(index);
    QImage& image = images_[static_cast<std::size_t>(column.beam - 1)];
    const int x = static_cast<int>(index % columns_);
    // Gate 1 at the bottom, as range grows upwards.
    for (int g = 0; g < gates; ++g)
        image.setPixel(x, gates - 1 - g,
                       scale.colourOf(column.power_db[static_cast<std::size_t>(g)]));
}

QImage RtiPicture::inTimeOrder(int beam, int row_height) const {
    const QImage& ring = image(beam);
    if (ring.isNull() || newest_ < 0) return QImage();
    QImage ordered(ring.size(), ring.format());
    const int split = newestIndex() + 1;  // the oldest column kept
    for (int y = 0; y < ring.height(); ++y)
        for (int x = 0; x < ring.width(); ++x)
            ordered.setPixel(x, y, ring.pixel((split + x) % columns_, y));
    return ordered.scaled(ring.width(), ring.height() * row_height, Qt::IgnoreAspectRatio,
                          Qt::FastTransformation);
}

}  // namespace zarv::views
