#include "journal_lines.h"

#include <sys/stat.h>

#include <QByteArray>
#include <QList>
#include <QtGlobal>

namespace zarv::app {

bool IsJournal(std::FILE* stream) {
    const QByteArray named = qgetenv("JOURNAL_STREAM");  // "device:inode"
    const QList<QByteArray> parts = named.split(':');
    struct stat st {};
    if (parts.size() != 2 || ::fstat(fileno(stream), &st) != 0) return false;
    return parts[0].toULongLong() == st.st_dev && parts[1].toULongLong() == st.st_ino;
}

void RouteQtMessagesToJournal() {
    static const bool journal = IsJournal(stderr);
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        int priority = 6;
        if (type == QtDebugMsg) priority = 7;
        if (type == QtWarningMsg) priority = 4;
        if (type == QtCriticalMsg || type == QtFatalMsg) priority = 3;
        for (const QString& line : text.split(QLatin1Char('\n'))) {
            if (journal) std::fprintf(stderr, "<%d>", priority);
            std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
        }
        std::fflush(stderr);
    });
}

int JournalPriority(const QString& line, LineKind kind) {
    if (kind == LineKind::Error) return 3;
    if (kind == LineKind::Message) return 4;
    // A start refused or a run that ends on an error: nothing is recorded.
    static const char* const errors[] = {"Settings refused", "Run ended:"};
    for (const char* e : errors)
        if (line.contains(QLatin1String(e))) return 3;
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
