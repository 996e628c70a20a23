#pragma once

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace zarv::monitoring {

// A client connection that is dropped when it sends more than its limit before
// it is answered, or stays idle too long.
class BoundedSocket : public QTcpSocket {
    Q_OBJECT
  public:
    BoundedSocket(qint64 byte_limit, int idle_ms, QObject* parent);

  private:
    void countArrived();

    qint64 byte_limit_;
    qint64 unanswered_ = 0;  // bytes arrived since the last answer
    QTimer idle_;
};

// Accepts at most a number of live connections; those past it are closed at
// once.
class BoundedTcpServer : public QTcpServer {
    Q_OBJECT
  public:
    BoundedTcpServer(int most_connections, qint64 byte_limit, int idle_ms, QObject* parent);
    int liveConnections() const { return live_; }

  protected:
    void incomingConnection(qintptr descriptor) override;

  private:
    int most_connections_;
    qint64 byte_limit_;
    int idle_ms_;
    int live_ = 0;
};

}  // namespace zarv::monitoring
