#include "bounded_tcp_server.h"

namespace zarv::monitoring {

BoundedSocket::BoundedSocket(qint64 byte_limit, int idle_ms, QObject* parent)
    : QTcpSocket(parent), byte_limit_(byte_limit) {
    idle_.setSingleShot(true);
    idle_.setInterval(idle_ms);
    connect(&idle_, &QTimer::timeout, this, &QAbstractSocket::abort);
    connect(this, &QIODevice::readyRead, &idle_, qOverload<>(&QTimer::start));
    idle_.start();
}

qint64 BoundedSocket::readData(char* data, qint64 most) {
    const qint64 n = QTcpSocket::readData(data, most);
    if (n > 0) bytes_read_ += n;
    if (bytes_read_ > byte_limit_) {
        // Not from inside a read: the server is still parsing what came.
        QMetaObject::invokeMethod(this, &QAbstractSocket::abort, Qt::QueuedConnection);
        return 0;
    }
    return n;
}

BoundedTcpServer::BoundedTcpServer(int most_connections, qint64 byte_limit, int idle_ms,
                                   QObject* parent)
    : QTcpServer(parent),
      most_connections_(most_connections),
      byte_limit_(byte_limit),
      idle_ms_(idle_ms) {}

void BoundedTcpServer::incomingConnection(qintptr descriptor) {
    if (live_ >= most_connections_) {
        QTcpSocket refused;
        refused.setSocketDescriptor(descriptor);
        refused.abort();
        return;
    }
    auto* socket = new BoundedSocket(byte_limit_, idle_ms_, this);
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
