#pragma once

#include <QObject>

class QSocketNotifier;

namespace zarv::app {

// SIGTERM, SIGINT and SIGHUP, which end the program, delivered as a Qt signal on
// the GUI thread: the handler only writes the number into a pipe, whose other
// end the event loop watches. One instance at a time; it restores the default
// handling when it goes.
class EndingSignals : public QObject {
    Q_OBJECT
  public:
    explicit EndingSignals(QObject* parent = nullptr);
    ~EndingSignals() override;

  signals:
    void received(int signal_number);

  private:
    void readPipe();

    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace zarv::app
