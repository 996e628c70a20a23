#include "bounded_tcp_server.h"

namespace zarv::monitoring {

BoundedSocket::BoundedSocket(qint64 byte_limit, int idle_ms, int request_deadline_ms,
                             QObject* parent)
    : QTcpSocket(parent), byte_limit_(byte_limit) {
    idle_.setSingleShot(true);
    idle_.setInterval(idle_ms);
    connect(&idle_, &QTimer::timeout, this, &QAbstractSocket::abort);
    deadline_.setSingleShot(true);
    deadline_.setInterval(request_deadline_ms);
    connect(&deadline_, &QTimer::timeout, this, &QAbstractSocket::abort);
    // Connected before the server's own handler, so this sees what arrived
    // before the server takes it.
    connect(this, &QIODevice::readyRead, this, &BoundedSocket::countArrived);
    connect(this, &QIODevice::bytesWritten, this, &BoundedSocket::answered);
    idle_.start();
    deadline_.start();
}

void BoundedSocket::answered() {
    unanswered_ = 0;
    deadline_.stop();
}

void BoundedSocket::countArrived() {
    idle_.start();
    if (!deadline_.isActive()) deadline_.start();  // the first bytes of the next request
    unanswered_ += bytesAvailable();
    if (unanswered_ > byte_limit_) abort();
}

BoundedTcpServer::BoundedTcpServer(int most_connections, qint64 byte_limit, int idle_ms,
                                   int request_deadline_ms, QObject* parent)
    : QTcpServer(parent),
      most_connections_(most_connections),
      byte_limit_(byte_limit),
      idle_ms_(idle_ms),
      request_deadline_ms_(request_deadline_ms) {}

void BoundedTcpServer::incomingConnection(qintptr descriptor) {
    if (live_ >= most_connections_) {
        QTcpSocket refused;
        refused.setSocketDescriptor(descriptor);
        refused.abort();
        return;
    }
    auto* socket = new BoundedSocket(byte_limit_, idle_ms_, request_deadline_ms_, this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    ++live_;
    connect(socket, &QObject::destroyed, this, [this] { --live_; });
    connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    addPendingConnection(socket);
}

}  // namespace zarv::monitoring
