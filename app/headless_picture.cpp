#include "headless_picture.h"

#include <QBuffer>
#include <algorithm>

#include "monitoring/station_watch.h"

namespace zarv::app {

HeadlessPicture::HeadlessPicture(monitoring::StationWatch& watch, QObject* parent)
    : QObject(parent), watch_(watch) {
    timer_.setInterval(1000);
    connect(&timer_, &QTimer::timeout, this, &HeadlessPicture::look);
    timer_.start();
}

void HeadlessPicture::look() {
    for (const radar::PowerColumn& column : feed_.takeColumns()) picture_.add(column);
    if (++looks_ % (kEveryMs / 1000) != 0 || picture_.newest() < 0) return;
    const int beam = feed_.beam() >= 1 ? feed_.beam() : 1;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    const int row_height = std::max(1, 240 / std::max(1, picture_.gates()));
    if (picture_.inTimeOrder(beam, row_height).save(&buffer, "PNG")) watch_.showPicture(png);
}

}  // namespace zarv::app
