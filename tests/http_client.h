#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <QByteArray>
#include <QString>
#include <string>

// A blocking HTTP/1.0 client on plain sockets, independent of any event loop:
// it can hammer the status server from many threads while the GUI thread runs.
struct HttpReply {
    int status = 0;  // 0: no reply (refused, closed or timed out)
    QByteArray head;
    QByteArray body;
};

// A connected socket to 127.0.0.1:port with 5-s send and receive time-outs, or -1.
inline int ConnectLocal(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Sends request as it stands and reads until the server closes or times out.
inline HttpReply SendRaw(quint16 port, const QByteArray& request) {
    HttpReply reply;
    const int fd = ConnectLocal(port);
    if (fd < 0) return reply;
    qsizetype sent = 0;
    while (sent < request.size()) {
        const ssize_t n = ::send(fd, request.constData() + sent,
                                 static_cast<size_t>(request.size() - sent), MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += n;
    }
    // Until the whole body has come (the server may keep the connection), the
    // server closes, or the time-out.
    QByteArray all;
    char buffer[8192];
    qsizetype split = -1;
    qsizetype length = -1;
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
        all.append(buffer, n);
        if (split < 0 && (split = all.indexOf("\r\n\r\n")) >= 0) {
            const qsizetype at = all.left(split).toLower().indexOf("content-length:");
            if (at >= 0) length = all.mid(at + 15, 20).trimmed().split('\r').first().toLongLong();
        }
        if (split >= 0 && length >= 0 && all.size() >= split + 4 + length) break;
    }
    ::close(fd);
    if (!all.startsWith("HTTP/1.") || split < 0) return reply;
    reply.head = all.left(split);
    reply.body = all.mid(split + 4);
    reply.status = all.mid(9, 3).toInt();
    return reply;
}

inline HttpReply Get(quint16 port, const QByteArray& path, const QByteArray& headers = {}) {
    return SendRaw(port, "GET " + path + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n" +
                             headers + "\r\n");
}
