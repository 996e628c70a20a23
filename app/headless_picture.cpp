#include "headless_picture.h"

#include <QBuffer>
#include <QImage>

#include "monitoring/station_watch.h"
#include "station/run_config.h"

namespace zarv::app {

HeadlessPicture::HeadlessPicture(monitoring::StationWatch& watch,
                                 const station::TRunConfig& settings, QObject* parent)
    : QObject(parent), watch_(watch), settings_(settings) {
    timer_.setInterval(1000);
    connect(&timer_, &QTimer::timeout, this, &HeadlessPicture::look);
    timer_.start();
}

void HeadlessPicture::look() {
    for (const radar::PowerColumn& column : feed_.takeColumns()) drawing_.picture.add(column);
    if (++looks_ % (kEveryMs / 1000) != 0 || drawing_.picture.newest() < 0) return;
    // config.txt is read again at every start: the axes follow it.
    drawing_.axes = radar::AxesOf(settings_);
    drawing_.start_time_ns = settings_.start_time;
    drawing_.resolution_ns = settings_.resolution;
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    {
        QPainter painter(&image);
        drawing_.paint(painter, image.rect());
    }
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (image.save(&buffer, "PNG")) watch_.showPicture(png);
}

}  // namespace zarv::app
