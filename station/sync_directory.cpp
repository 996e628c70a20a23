#include "sync_directory.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>

namespace zarv::station {

void SyncDirectory(const QString& dir) {
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

void SyncDirectoryOf(const QString& path) {
    SyncDirectory(QFileInfo(path).absolutePath());
}

}  // namespace zarv::station
