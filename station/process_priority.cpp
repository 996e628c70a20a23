#include "process_priority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include <QFile>

namespace zarv::station {

namespace {
constexpr int kReaderPriority = 10;
constexpr int kCapSysNice = 23;

bool HasCapSysNice() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return false;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("CapEff:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> kCapSysNice) & 1;
    return false;
}
}  // namespace

void SetProcessPriority(std::uint8_t code) {
    int nice_value = 0;
    switch (code) {
        case 1:
            nice_value = 19;
            break;
        case 2:
            nice_value = 0;
            break;
        case 3:
            nice_value = -10;
            break;
        case 4:
            nice_value = -20;
            break;
        default:
            return;
    }
    // Threads started later inherit it; a refused raise leaves the priority as it was.
    (void)setpriority(PRIO_PROCESS, 0, nice_value);
}

void RaiseThreadToRealTime() {
    sched_param param{};
    // Above no kernel thread that matters, below the audio of most desktops.
    param.sched_priority = kReaderPriority;
    (void)pthread_setschedparam(pthread_self(), SCHED_RR, &param);
}

QString RealTimeShortfall() {
    rlimit limit{};
    if (getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur >= kReaderPriority) return {};
    if (HasCapSysNice()) return {};
    return QStringLiteral(
               "The stream reader cannot have real-time priority (no CAP_SYS_NICE, "
               "RLIMIT_RTPRIO %1): it reads at normal priority, and a busy machine may cost "
               "records")
        .arg(static_cast<qulonglong>(limit.rlim_cur));
}

}  // namespace zarv::station
