#include "listen_address.h"

namespace zarv::monitoring {

namespace {
ListenAddress Refused(const QString& text, const QString& why) {
    ListenAddress refused;
    refused.error = QStringLiteral("status_listen '%1' %2").arg(text, why);
    return refused;
}
}  // namespace

QString ListenAddress::text() const {
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
                             ? '[' + address.toString() + ']'
                             : address.toString();
    return host + ':' + QString::number(port);
}

ListenAddress ParseListenAddress(const QString& text) {
    const QString trimmed = text.trimmed();
    const qsizetype colon = trimmed.lastIndexOf(QLatin1Char(':'));
    QString host = colon < 0 ? QString() : trimmed.left(colon);
    const QString port_text = trimmed.mid(colon + 1);
    bool ok = false;
    const uint port = port_text.toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return Refused(text, QStringLiteral("needs a port from 1 to 65535"));
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    ListenAddress parsed;
    parsed.port = static_cast<quint16>(port);
    const bool local = host.isEmpty() || host == QLatin1String("localhost");
    parsed.address = local ? QHostAddress(QHostAddress::LocalHost) : QHostAddress(host);
    if (parsed.address.isNull()) return Refused(text, QStringLiteral("names no IP address"));
    return parsed;
}

}  // namespace zarv::monitoring
