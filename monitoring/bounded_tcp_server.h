#pragma once

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace zarv::monitoring {

// A client connection that is dropped when it sends more than its limit before
// it is answered, stays idle too long, or takes longer than the deadline to
// send a whole request from when it connected or was last answered (however
// it trickles the bytes in).
class BoundedSocket : public QTcpSocket {
    Q_OBJECT
  public:
    BoundedSocket(qint64 byte_limit, int idle_ms, int request_deadline_ms, QObject* parent);

  private:
    void countArrived();
    void answered();

    qint64 byte_limit_;
    qint64 unanswered_ = 0;  // bytes arrived since the last answer
    QTimer idle_;
    QTimer deadline_;  // runs while a request is awaited or coming in
};

// Accepts at most a number of live connections; those past it are closed at
// once.
class BoundedTcpServer : public QTcpServer {
    Q_OBJECT
  public:
    BoundedTcpServer(int most_connections, qint64 byte_limit, int idle_ms, int request_deadline_ms,
                     QObject* parent);
    int liveConnections() const { return live_; }

  protected:
    void incomingConnection(qintptr descriptor) override;

  private:
    int most_connections_;
    qint64 byte_limit_;
    int idle_ms_;
    int request_deadline_ms_;
    int live_ = 0;
};

}  // namespace zarv::monitoring
