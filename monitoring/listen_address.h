#pragma once

#include <QHostAddress>
#include <QString>

namespace zarv::monitoring {

// Where the status server listens: "[ADDRESS:]PORT". A port alone means the
// loopback address only; another address is used only when named. IPv6
// addresses go in brackets: "[::1]:9100".
struct ListenAddress {
    QHostAddress address;
    quint16 port = 0;
    QString error;  // why the text was refused; empty when it was read

    bool loopback() const { return address.isLoopback(); }
    QString text() const;
};

ListenAddress ParseListenAddress(const QString& text);

}  // namespace zarv::monitoring
