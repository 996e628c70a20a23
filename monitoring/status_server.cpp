#include "status_server.h"

#include <QAbstractHttpServer>
#include <QEventLoop>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTimer>
#include <QUrlQuery>
#include <atomic>
#include <future>
#include <thread>

#include "bounded_tcp_server.h"
#include "metrics_text.h"
#include "state_board.h"
#include "status_json.h"
#include "status_page.h"

namespace zarv::monitoring {

bool SameSecret(const QByteArray& a, const QByteArray& b) {
    // Every byte of the longer is looked at, whatever the first difference.
    const qsizetype n = std::max(a.size(), b.size());
    unsigned difference = a.size() == b.size() ? 0u : 1u;
    for (qsizetype i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(i < a.size() ? a[i] : 0);
        const auto y = static_cast<unsigned char>(i < b.size() ? b[i] : 0);
        difference |= static_cast<unsigned>(x ^ y);
    }
    return difference == 0;
}

namespace {
using Status = QHttpServerResponder::StatusCode;

// One answer: its headers as they come, then the body, which a HEAD request
// gets the length of but not the bytes, so that the next request on the same
// connection is read where it begins.
class Reply {
  public:
    Reply(QHttpServerResponder&& responder, bool head)
        : responder_(std::move(responder)), head_(head) {}
    void header(const QByteArray& name, const QByteArray& value) { headers_.append({name, value}); }
    void send(const QByteArray& body, const QByteArray& type, Status status = Status::Ok) {
        responder_.writeStatusLine(status);
        responder_.writeHeader("Content-Type", type);
        responder_.writeHeader("Content-Length", QByteArray::number(body.size()));
        for (const auto& [name, value] : headers_) responder_.writeHeader(name, value);
        responder_.writeBody(head_ ? QByteArray() : body);
    }

  private:
    QHttpServerResponder responder_;
    bool head_;
    QList<std::pair<QByteArray, QByteArray>> headers_;
};

// The value of one cookie in a Cookie header ("a=1; zarv_token=T"), or empty.
QByteArray CookieValue(const QByteArray& header, const char* name) {
    for (const QByteArray& pair : header.split(';')) {
        const QByteArray trimmed = pair.trimmed();
        const qsizetype equals = trimmed.indexOf('=');
        if (equals > 0 && trimmed.left(equals) == name) return trimmed.mid(equals + 1);
    }
    return {};
}

// Lives on the server's thread: answers each request from a copy of the board.
class StatusHttp : public QAbstractHttpServer {
  public:
    StatusHttp(const StateBoard& board, QByteArray token)
        : board_(board), token_(std::move(token)) {}

  protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
        Reply reply(makeResponder(request, socket),
                    request.method() == QHttpServerRequest::Method::Head);
        if (request.method() != QHttpServerRequest::Method::Get &&
            request.method() != QHttpServerRequest::Method::Head) {
            reply.send("only GET and HEAD\n", "text/plain", Status::MethodNotAllowed);
            return true;
        }
        const Access access = authorised(request);
        if (access == Access::Refused) {
            reply.header("WWW-Authenticate", "Bearer");
            reply.send("a token is needed\n", "text/plain", Status::Unauthorized);
            return true;
        }
        // A browser that loaded the page with ?token= keeps it as a cookie, so
        // that the picture, the links and the page's own refresh carry it.
        if (access == Access::ByQuery)
            reply.header("Set-Cookie", QByteArray(kCookie) + '=' + token_.toPercentEncoding() +
                                           "; Path=/; HttpOnly; SameSite=Strict");
        answer(request.url().path(), reply);
        return true;
    }

    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override {
        Reply(makeResponder(request, socket), false)
            .send("not found\n", "text/plain", Status::NotFound);
    }

  private:
    static constexpr const char* kCookie = StatusServer::kTokenCookie;
    enum class Access { Open, ByHeader, ByQuery, ByCookie, Refused };

    void answer(const QString& path, Reply& reply) const {
        if (path == QLatin1String("/metrics")) {
            reply.send(MetricsText(board_.snapshot()), "text/plain; version=0.0.4; charset=utf-8");
        } else if (path == QLatin1String("/status.json")) {
            reply.send(StatusJson(board_.snapshot()), "application/json");
        } else if (path == QLatin1String("/rti.png")) {
            const QByteArray png = board_.snapshot().picture_png;
            if (png.isEmpty())
                reply.send("no picture yet\n", "text/plain", Status::NotFound);
            else
                reply.send(png, "image/png");
        } else if (path == QLatin1String("/")) {
            reply.send(StatusPage(board_.snapshot()), "text/html; charset=utf-8");
        } else {
            reply.send("not found\n", "text/plain", Status::NotFound);
        }
    }

    Access authorised(const QHttpServerRequest& request) const {
        if (token_.isEmpty()) return Access::Open;
        const QByteArray header = request.value("Authorization");
        if (header.left(7).toLower() == "bearer " && SameSecret(header.mid(7).trimmed(), token_))
            return Access::ByHeader;
        const QString query =
            QUrlQuery(request.url()).queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded);
        if (!query.isEmpty() && SameSecret(query.toUtf8(), token_)) return Access::ByQuery;
        const QByteArray cookie = CookieValue(request.value("Cookie"), kCookie);
        if (!cookie.isEmpty() && SameSecret(QByteArray::fromPercentEncoding(cookie), token_))
            return Access::ByCookie;
        return Access::Refused;
    }

    const StateBoard& board_;
    const QByteArray token_;
};

// The server's thread is a plain std::thread running an event loop of its
// own: starting, stopping and the hand-over of the result go through standard
// primitives, so nothing but copies of the board crosses between threads.
class HttpStatusServer : public StatusServer {
  public:
    explicit HttpStatusServer(const StateBoard& board) : board_(board) {}
    ~HttpStatusServer() override {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

    QString start(const ListenAddress& where, const QByteArray& token,
                  Listening listening) override {
        std::promise<QString> started;
        std::future<QString> result = started.get_future();
        thread_ = std::thread(
            [this, where, token, listening, &started] { serve(where, token, started, listening); });
        return result.get();
    }

    quint16 port() const override { return port_.load(); }

  private:
    static constexpr int kStopLookMs = 50;

    // On the server's thread: listens, says how that went, then serves until
    // asked to stop. A failed listen is tried again with a growing wait: a port
    // still held by the station's previous run comes free. The server objects
    // live and die on this thread.
    void serve(const ListenAddress& where, const QByteArray& token, std::promise<QString>& started,
               const Listening& listening) {
        QEventLoop loop;
        StatusHttp http(board_, token);
        auto* tcp = new BoundedTcpServer(kMostConnections, kMostRequestBytes, kIdleMs,
                                         kRequestDeadlineMs, &http);
        http.bind(tcp);
        int retry_ms = 1000;
        QTimer retry;
        retry.setSingleShot(true);
        QObject::connect(&retry, &QTimer::timeout, &loop, [&] {
            if (!tcp->listen(where.address, where.port)) {
                retry_ms = std::min(2 * retry_ms, kLongestRetryMs);
                retry.start(retry_ms);
                return;
            }
            port_ = tcp->serverPort();
            if (listening) listening();
        });
        if (tcp->listen(where.address, where.port)) {
            port_ = tcp->serverPort();
            started.set_value(QString());
        } else {
            started.set_value(
                QStringLiteral("Status server cannot listen on %1: %2; it tries again, less "
                               "often each time")
                    .arg(where.text(), tcp->errorString()));
            retry.start(retry_ms);
        }
        QTimer stop_look;
        QObject::connect(&stop_look, &QTimer::timeout, &loop, [&] {
            if (stop_) loop.quit();
        });
        stop_look.start(kStopLookMs);
        loop.exec();
    }

    const StateBoard& board_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<quint16> port_{0};
};
}  // namespace

std::unique_ptr<StatusServer> MakeStatusServer(const StateBoard& board) {
    return std::make_unique<HttpStatusServer>(board);
}

}  // namespace zarv::monitoring
