#pragma once

#include <QString>

namespace zarv::firmware {

// An image is taken when its first line is not empty and begins with ':'.
// Throws when the file cannot be read.
bool AcceptHexImage(const QString& path);

// Splits an Intel HEX image into the sector word files of the sectors it touches,
// in out_dir. Every record's checksum is verified and every data record finds its
// own sector; the files of an earlier conversion are removed first. Throws
// StationError naming the offending line.
void ConvertHexImage(const QString& path, const QString& out_dir);

// The letters of the sectors the image has data for, A to H; throws as the
// conversion does.
QString HexImageSectors(const QString& path);

}  // namespace zarv::firmware
