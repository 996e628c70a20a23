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

// Lives on the server's thread: answers each request from a copy of the board.
class StatusHttp : public QAbstractHttpServer {
  public:
    StatusHttp(const StateBoard& board, QByteArray token)
        : board_(board), token_(std::move(token)) {}

  protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
        QHttpServerResponder responder = makeResponder(request, socket);
        if (request.method() != QHttpServerRequest::Method::Get &&
            request.method() != QHttpServerRequest::Method::Head) {
            responder.write("only GET and HEAD\n", "text/plain", Status::MethodNotAllowed);
            return true;
        }
        if (!authorised(request)) {
            responder.write({{"WWW-Authenticate", "Bearer"}, {"Content-Type", "text/plain"}},
                            Status::Unauthorized);
            return true;
        }
        const QString path = request.url().path();
        if (path == QLatin1String("/metrics")) {
            responder.write(MetricsText(board_.snapshot()),
                            "text/plain; version=0.0.4; charset=utf-8");
        } else if (path == QLatin1String("/status.json")) {
            responder.write(StatusJson(board_.snapshot()), "application/json");
        } else if (path == QLatin1String("/rti.png")) {
            const QByteArray png = board_.snapshot().picture_png;
            if (png.isEmpty())
                responder.write("no picture: the radar view is not open\n", "text/plain",
                                Status::NotFound);
            else
                responder.write(png, "image/png");
        } else if (path == QLatin1String("/")) {
            responder.write(StatusPage(board_.snapshot()), "text/html; charset=utf-8");
        } else {
            responder.write("not found\n", "text/plain", Status::NotFound);
        }
        return true;
    }

    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override {
        makeResponder(request, socket).write("not found\n", "text/plain", Status::NotFound);
    }

  private:
    bool authorised(const QHttpServerRequest& request) const {
        if (token_.isEmpty()) return true;
        const QByteArray header = request.value("Authorization");
        if (header.startsWith("Bearer ") && SameSecret(header.mid(7).trimmed(), token_))
            return true;
        const QString query = QUrlQuery(request.url()).queryItemValue(QStringLiteral("token"));
        return !query.isEmpty() && SameSecret(query.toUtf8(), token_);
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

    QString start(const ListenAddress& where, const QByteArray& token) override {
        std::promise<QString> started;
        std::future<QString> result = started.get_future();
        thread_ = std::thread([this, where, token, &started] { serve(where, token, started); });
        return result.get();
    }

    quint16 port() const override { return port_.load(); }

  private:
    static constexpr int kStopLookMs = 50;

    // On the server's thread: listens, says how that went, then serves until
    // asked to stop. The server objects live and die on this thread.
    void serve(const ListenAddress& where, const QByteArray& token,
               std::promise<QString>& started) {
        QEventLoop loop;
        StatusHttp http(board_, token);
        auto* tcp = new BoundedTcpServer(kMostConnections, kMostRequestBytes, kIdleMs, &http);
        if (!tcp->listen(where.address, where.port)) {
            started.set_value(QStringLiteral("Status server cannot listen on %1: %2")
                                  .arg(where.text(), tcp->errorString()));
            return;
        }
        http.bind(tcp);
        port_ = tcp->serverPort();
        started.set_value(QString());
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
