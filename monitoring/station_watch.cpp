#include "station_watch.h"

#include <QFile>

#include "run_watch.h"

namespace zarv::monitoring {

StationWatch::StationWatch(station::Operator& inner) : watching_(inner, board_) {
    board_.change([](StationState& s) { s.version = QStringLiteral(ZARV_VERSION); });
}

StationWatch::~StationWatch() = default;

void StationWatch::watchRun(acquisition::AcquisitionRun& run,
                            const station::ControllerSession& session) {
    run_watch_ = std::make_unique<RunWatch>(board_, run, session);
}

void StationWatch::showEcho(int beam, int gates, int trusted, double median_snr_db) {
    if (beam < 1 || beam > 3) return;
    const auto i = static_cast<std::size_t>(beam - 1);
    board_.change([&](StationState& s) {
        s.echo_gates[i] = gates;
        s.echo_trusted[i] = trusted;
        s.echo_snr_db[i] = median_snr_db;
    });
}

void StationWatch::showPicture(const QByteArray& png) {
    board_.change([&](StationState& s) {
        s.picture_png = png;
        s.picture_at = QDateTime::currentDateTimeUtc();
    });
}

QString StationWatch::servingText() const {
    if (!server_) return QString();
    const QString text = QStringLiteral("Status server on http://%1/").arg(where_.text());
    if (!open_to_all_) return text;
    return text + QStringLiteral(
                      " with no token: anyone who can reach it reads the station's state "
                      "(status_token_file asks for one)");
}

QString StationWatch::serveAsAsked(const QString& option, const QString& configured,
                                   const QString& token_file) {
    const QString error = serve(option.isEmpty() ? configured : option, token_file);
    return error.isEmpty() ? servingText() : error;
}

QByteArray ReadToken(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Status server: cannot read the token file %1: %2")
                     .arg(path, file.errorString());
        return {};
    }
    const QByteArray token = file.readLine(4096).trimmed();
    if (token.isEmpty())
        *error = QStringLiteral("Status server: the token file %1 is empty").arg(path);
    return token;
}

QString StationWatch::serve(const QString& listen, const QString& token_file) {
    server_.reset();
    if (listen.isEmpty()) return QString();
    const ListenAddress where = ParseListenAddress(listen);
    if (!where.error.isEmpty()) return QStringLiteral("Status server: ") + where.error;
    QByteArray token;
    if (!token_file.isEmpty()) {
        QString error;
        token = ReadToken(token_file, &error);
        if (token.isEmpty()) return error;
    }
    auto server = MakeStatusServer(board_);
    // Said on the server's thread; logged on this one.
    const auto listening = [this] {
        QMetaObject::invokeMethod(&here_, [this] {
            if (take_note_) take_note_(QStringLiteral("At last: ") + servingText());
        });
    };
    const QString error = server->start(where, token, listening);
    server_ = std::move(server);
    where_ = where;
    if (server_->port() != 0) where_.port = server_->port();
    open_to_all_ = !where.loopback() && token.isEmpty();
    return error;
}

}  // namespace zarv::monitoring
