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

void StationWatch::showPicture(const QByteArray& png) {
    board_.change([&](StationState& s) {
        s.picture_png = png;
        s.picture_at = QDateTime::currentDateTimeUtc();
    });
}

QString StationWatch::servingText() const {
    if (!server_) return QString();
    return QStringLiteral("Status server on http://%1/").arg(where_.text());
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
    if (const QString error = server->start(where, token); !error.isEmpty()) return error;
    server_ = std::move(server);
    where_ = where;
    where_.port = server_->port();
    return QString();
}

}  // namespace zarv::monitoring
