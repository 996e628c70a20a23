#include "journal_lines.h"

#include <sys/stat.h>

#include <QByteArray>
#include <QList>

namespace zarv::app {

bool IsJournal(std::FILE* stream) {
    const QByteArray named = qgetenv("JOURNAL_STREAM");  // "device:inode"
    const QList<QByteArray> parts = named.split(':');
    struct stat st {};
    if (parts.size() != 2 || ::fstat(fileno(stream), &st) != 0) return false;
    return parts[0].toULongLong() == st.st_dev && parts[1].toULongLong() == st.st_ino;
}

int JournalPriority(const QString& line, LineKind kind) {
    if (kind == LineKind::Error) return 3;
    if (kind == LineKind::Message) return 4;
    static const char* const warnings[] = {"Recovering", "Data lost",       "missing after",
                                           "cannot",     "could not",       "Framing errors",
                                           "Disk space", "does not answer", "not found",
                                           "Lost ",      "with no token"};
    for (const char* w : warnings)
        if (line.contains(QLatin1String(w))) return 4;
    static const char* const notices[] = {"Starting trigger", "Recovered",
                                          "Last run:",        "Status server on",
                                          "received: ending", "Recording time is over"};
    for (const char* n : notices)
        if (line.contains(QLatin1String(n))) return 5;
    return 6;
}

}  // namespace zarv::app
