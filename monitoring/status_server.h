#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

#include "listen_address.h"

namespace zarv::monitoring {

class StateBoard;

// The read-only status server: /metrics, /status.json and a page at /. It runs
// on a thread of its own and only reads copies of the board, so no client,
// however slow, many or malformed, can hold up the GUI, reader or processing
// thread. Connections, request sizes and idle time are bounded.
class StatusServer {
  public:
    static constexpr int kMostConnections = 128;
    static constexpr int kMostRequestBytes = 16 * 1024;
    static constexpr int kIdleMs = 10'000;

    virtual ~StatusServer() = default;
    // Listens on where; token, when not empty, must come with every request
    // ("Authorization: Bearer TOKEN" or "?token=TOKEN"). Empty, or why not.
    virtual QString start(const ListenAddress& where, const QByteArray& token) = 0;
    // The port listened on (where.port, or the one chosen for port 0).
    virtual quint16 port() const = 0;
};

std::unique_ptr<StatusServer> MakeStatusServer(const StateBoard& board);

// Equal texts, compared in a time that does not depend on where they differ.
bool SameSecret(const QByteArray& a, const QByteArray& b);

}  // namespace zarv::monitoring
