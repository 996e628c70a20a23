#pragma once

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace zarv::monitoring {

// A client connection that is dropped when it sends more than its limit or
// stays idle too long.
class BoundedSocket : public QTcpSocket {
    Q_OBJECT
  public:
    BoundedSocket(qint64 byte_limit, int idle_ms, QObject* parent);

  protected:
    qint64 readData(char* data, qint64 most) override;

  private:
    qint64 byte_limit_;
    qint64 bytes_read_ = 0;
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
