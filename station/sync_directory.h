#pragma once

#include <QString>

namespace zarv::station {

// A new file's or directory's name survives a power cut only once the
// directory holding it is synced. Best effort: a directory that cannot be
// opened is left as it is.
void SyncDirectory(const QString& dir);
// The directory that holds path.
void SyncDirectoryOf(const QString& path);

}  // namespace zarv::station
