#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>

namespace zarv::monitoring {

class StateBoard;
struct StationState;

// What systemd hears from a station it supervises (Type=notify): READY=1 once
// the first records are written, a STATUS= line as the run goes, and
// WATCHDOG=1 only while both the event loop that sends it and the processing
// thread turn. A hung loop or a held processing thread stops the pings and
// systemd restarts the station. Without NOTIFY_SOCKET nothing is sent. The
// datagrams are sent here without blocking (libsystemd's sd_notify blocks when
// systemd's queue is full, which would stop the very loop it reports on).
class ServiceNotifier : public QObject {
    Q_OBJECT
  public:
    using Heartbeat = std::function<std::int64_t()>;

    ServiceNotifier(const StateBoard& board, Heartbeat processing, QObject* parent = nullptr);
    // The program begins to end (STOPPING=1): systemd then waits for it rather
    // than taking the silence for a hang. Said once.
    void stopping();
    // The interval systemd asked pings at (half WatchdogSec); 0: no watchdog.
    int watchdogIntervalMs() const { return watchdog_ms_; }
    // The STATUS= text for a state: "Beam 2 · 14 dwells · 123456 records · 40.1 h of disk".
    static QString StatusLine(const StationState& state);

  private:
    void tick();
    static void send(const QByteArray& message);

    const StateBoard& board_;
    Heartbeat processing_;
    QTimer timer_;
    int watchdog_ms_ = 0;
    bool ready_ = false;
    bool stopping_ = false;
    QString last_status_;
    std::int64_t last_heartbeat_ = -1;
};

}  // namespace zarv::monitoring
