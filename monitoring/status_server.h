#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
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
    // From a connection or an answer on, a request's headers must all be in by then.
    static constexpr int kRequestDeadlineMs = 5'000;
    // A busy port is tried again after 1 s, then twice as long each time up to this.
    static constexpr int kLongestRetryMs = 60'000;
    static constexpr const char* kTokenCookie = "zarv_token";

    // Called on the server's thread when it listens after a failed start.
    using Listening = std::function<void()>;

    virtual ~StatusServer() = default;
    // Listens on where; token, when not empty, must come with every request
    // ("Authorization: Bearer TOKEN", "?token=TOKEN", or the cookie a page
    // loaded with ?token= sets). Empty, or why not: then it keeps trying with a
    // growing wait and says so through listening when it succeeds.
    virtual QString start(const ListenAddress& where, const QByteArray& token,
                          Listening listening = {}) = 0;
    // The port listened on (where.port, or the one chosen for port 0); 0 while
    // it does not listen.
    virtual quint16 port() const = 0;
};

std::unique_ptr<StatusServer> MakeStatusServer(const StateBoard& board);

// Equal texts, compared in a time that does not depend on where they differ.
bool SameSecret(const QByteArray& a, const QByteArray& b);

}  // namespace zarv::monitoring
