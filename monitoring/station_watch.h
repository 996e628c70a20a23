#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "state_board.h"
#include "status_server.h"
#include "watching_operator.h"

namespace zarv::acquisition {
class AcquisitionRun;
}  // namespace zarv::acquisition
namespace zarv::station {
class ControllerSession;
}  // namespace zarv::station

namespace zarv::monitoring {

class RunWatch;

// Everything a program needs to be watched from afar: the board, the operator
// that copies onto it, the run's watch and the status server.
class StationWatch {
  public:
    explicit StationWatch(station::Operator& inner);
    ~StationWatch();

    // The operator to give the station: the inner one, watched.
    station::Operator& op() { return watching_; }
    const StateBoard& board() const { return board_; }
    void watchRun(acquisition::AcquisitionRun& run, const station::ControllerSession& session);
    // Serves on listen ("[ADDRESS:]PORT"), asking for the token in token_file
    // when one is named. Empty, or why it does not serve.
    QString serve(const QString& listen, const QString& token_file);
    quint16 port() const { return server_ ? server_->port() : 0; }
    // Serving, or trying again to listen.
    bool serving() const { return server_ != nullptr; }
    // Where lines about the server that come later go (on this thread): that
    // it listens at last after a busy port.
    void setNoteTaker(std::function<void(const QString&)> take) { take_note_ = std::move(take); }
    // A beam's echo in the dwell placed last.
    void showEcho(int beam, int gates, int trusted, double median_snr_db);
    // The radar view's range-time picture for the page, as PNG.
    void showPicture(const QByteArray& png);
    // "Status server on http://127.0.0.1:9100/", or empty when not serving;
    // beyond loopback without a token it says that anyone may read.
    QString servingText() const;
    // Serves where the command line (option) or else config.txt asks. The line
    // for the daily log: where it serves or why it does not; empty when asked
    // to serve nowhere.
    QString serveAsAsked(const QString& option, const QString& configured,
                         const QString& token_file);

  private:
    StateBoard board_;
    WatchingOperator watching_;
    std::unique_ptr<RunWatch> run_watch_;
    QObject here_;  // the thread the watch was made on, for the server's late lines
    std::function<void(const QString&)> take_note_;
    std::unique_ptr<StatusServer> server_;  // after here_: stopped before it goes
    ListenAddress where_;
    bool open_to_all_ = false;  // beyond loopback without a token
};

// The token: the first line of the file, blanks around it dropped. Empty with
// why in error when the file cannot be read or holds none.
QByteArray ReadToken(const QString& path, QString* error);

}  // namespace zarv::monitoring
