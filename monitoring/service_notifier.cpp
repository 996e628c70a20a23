#include "service_notifier.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "state_board.h"

namespace zarv::monitoring {

ServiceNotifier::ServiceNotifier(const StateBoard& board, Heartbeat processing, QObject* parent)
    : QObject(parent), board_(board), processing_(std::move(processing)) {
    if (qEnvironmentVariableIsEmpty("NOTIFY_SOCKET")) return;
    // The watchdog is ours when systemd set WATCHDOG_USEC for this process.
    bool ok = false;
    const qulonglong usec = qgetenv("WATCHDOG_USEC").toULongLong(&ok);
    const QByteArray pid = qgetenv("WATCHDOG_PID");
    if (ok && usec > 0 && (pid.isEmpty() || pid.toLongLong() == ::getpid()))
        watchdog_ms_ = static_cast<int>(std::clamp<qulonglong>(usec / 2000, 100, 60'000));
    // The processing thread turns every 250 ms: a tick sees it turn at least once.
    timer_.setInterval(watchdog_ms_ > 0 ? std::clamp(watchdog_ms_, 500, 1000) : 1000);
    connect(&timer_, &QTimer::timeout, this, &ServiceNotifier::tick);
    timer_.start();
}

QString ServiceNotifier::StatusLine(const StationState& s) {
    std::int64_t records = 0;
    for (int beam = 1; beam <= 3; ++beam) records += s.recordsWritten(beam);
    QString line = s.recovering()  ? QStringLiteral("Recovering")
                   : s.recording() ? QStringLiteral("Beam %1").arg(s.beam)
                                   : QStringLiteral("Stopped");
    line += QStringLiteral(" · %1 dwells · %2 records").arg(s.dwells).arg(records);
    if (s.hours_left >= 0) line += QStringLiteral(" · %1 h of disk").arg(s.hours_left, 0, 'f', 1);
    return line;
}

void ServiceNotifier::stopping() {
    if (stopping_) return;
    stopping_ = true;
    send("STOPPING=1");
}

void ServiceNotifier::tick() {
    const StationState s = board_.snapshot();
    if (!ready_ && (s.dwell_records > 0 || s.dwells > 0)) {
        ready_ = true;
        send("READY=1");
    }
    if (const QString status = StatusLine(s); status != last_status_) {
        last_status_ = status;
        send("STATUS=" + status.toUtf8());
    }
    if (watchdog_ms_ == 0) return;
    // This tick proves the loop turns; the count, that the processing thread does.
    const std::int64_t beat = processing_();
    if (beat != last_heartbeat_) send("WATCHDOG=1");
    last_heartbeat_ = beat;
}

// The notification protocol: one datagram to the socket NOTIFY_SOCKET names
// ("@" for the abstract namespace). Sent without blocking: a systemd that does
// not read its socket must not stop the station.
void ServiceNotifier::send(const QByteArray& message) {
    const QByteArray where = qgetenv("NOTIFY_SOCKET");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (where.isEmpty() || where.size() >= static_cast<qsizetype>(sizeof address.sun_path)) return;
    std::memcpy(address.sun_path, where.constData(), static_cast<size_t>(where.size()));
    if (where.startsWith('@')) address.sun_path[0] = '\0';
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return;
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + where.size());
    (void)::sendto(fd, message.constData(), static_cast<size_t>(message.size()), MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&address), length);
    ::close(fd);
}

}  // namespace zarv::monitoring
