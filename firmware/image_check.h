#pragma once

#include <QString>
#include <optional>

#include "hex_image.h"

namespace zarv::station {
class OperatorLog;
}

namespace zarv::firmware {

// Reads and checks an image for an update or a verify, off the GUI thread when
// the file is large so that the window keeps answering. A refused image is
// logged as not recognised and explained in one box naming the file, the line
// and the reason; then there is no image.
std::optional<HexImage> LoadImageForUpdate(const QString& path, station::OperatorLog& log);

// "Image main.hex: SHA-256 9f86d0...": which image an update or a verify used.
QString ImageIdentityText(const QString& path, const HexImage& image);

// The box for a refused or unreadable image.
QString RefusalText(const QString& path, const station::StationError& error);

// "12 records outside the main sectors are not written", or empty.
QString OutsideRecordsText(const HexImage& image);

}  // namespace zarv::firmware
