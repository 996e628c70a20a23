#include "process_figures.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QList>

namespace zarv::monitoring {

namespace {
QByteArray ReadProc(const char* path) {
    QFile file(QString::fromLatin1(path));
    // /proc files report no size: read what they give.
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// When the machine booted (Unix time), from /proc/stat's btime.
double BootTime() {
    for (const QByteArray& line : ReadProc("/proc/stat").split('\n'))
        if (line.startsWith("btime ")) return line.mid(6).trimmed().toDouble();
    return -1;
}
}  // namespace

ProcessFigures ReadProcessFigures() {
    ProcessFigures f;
    const QByteArray stat = ReadProc("/proc/self/stat");
    // The command name in brackets may hold blanks: fields count from after it.
    const qsizetype close = stat.lastIndexOf(')');
    const double ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
    if (close > 0 && ticks > 0) {
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        // Fields 14 and 15 (utime, stime), 22 (starttime), 23 (vsize), 24 (rss),
        // counted from 1 with the pid; here from 0 at field 3.
        if (fields.size() > 21) {
            f.cpu_s = (fields[11].toDouble() + fields[12].toDouble()) / ticks;
            const double boot = BootTime();
            if (boot >= 0) f.start_time_s = boot + fields[19].toDouble() / ticks;
            f.virtual_bytes = fields[20].toDouble();
            f.resident_bytes = fields[21].toDouble() * static_cast<double>(::sysconf(_SC_PAGESIZE));
        }
    }
    const QDir fds(QStringLiteral("/proc/self/fd"));
    if (fds.exists())
        f.open_fds = static_cast<double>(
            fds.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size());
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        f.max_fds = static_cast<double>(limit.rlim_cur);
    return f;
}

}  // namespace zarv::monitoring
