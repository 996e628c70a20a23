#pragma once

#include <QDateTime>
#include <QString>
#include <functional>

#include "device_IO/controller_commands.h"
#include "device_IO/usb_link.h"
#include "run_config.h"
#include "views/graph_capture.h"

class Operator;
class FtApi;

// The state every flow shares: the start directory, the run configuration, the
// three flags, the link to the controller and the graph capture. The main window
// owns one; tests build as many as they like.
class Station {
  public:
    using Clock = std::function<QDateTime()>;

    Station(Operator& op, FtApi& api, Clock clock = &QDateTime::currentDateTime);

    Operator& op;
    UsbLink link;
    ControllerCommands commands;
    GraphCapture graph;

    QString start_dir;
    TRunConfig run_config;
    bool device_open = false;
    bool triggering = false;
    bool stop_requested = false;
    // An acquisition run or a firmware update holds the link, also after a Stop
    // that the run has not yet acted on.
    bool run_active = false;
    bool update_active = false;
    bool linkBusy() const { return run_active || update_active; }

    QDateTime now() const { return clock_(); }
    static QString LogPrefix(const QDateTime& at);
    void LogMessage(const QString& text);

    QString configPath() const { return start_dir + QStringLiteral("/config.txt"); }
    // Clears the log, reads every key into run_config echoing it with one time
    // stamp, then makes the hour directory. Throws on a missing file or a bad value,
    // leaving the keys before the failing one updated.
    void ReadConfig();
    // Makes the missing levels of the hour directory and returns the stem of a
    // data file for the current second.
    QString MakeDataFileStem();

    // Opens the controller unless it is open already; logs the outcome.
    bool EnsureDeviceOpen();

    void AddGraphValue(int p, int v) {
        graph.AddGraphValue(
            p, v,
            static_cast<std::int32_t>(static_cast<std::uint32_t>(run_config.ipp) *
                                      static_cast<std::uint32_t>(run_config.integrations)));
    }

  private:
    Clock clock_;
};
