#pragma once

#include <QString>
#include <cstdio>

#include "acquisition/acquisition_run.h"
#include "journal_lines.h"
#include "station/operator.h"

namespace zarv::device_io {
class FtApi;
}  // namespace zarv::device_io

namespace zarv::station {
class OperatorLog;
}  // namespace zarv::station

namespace zarv::app {

// The operator of an unattended station: log lines go to standard output and the
// daily log, boxes to standard error; a question is answered Yes, so that a
// warning never holds a campaign up; nothing is shown.
class HeadlessOperator : public station::Operator {
  public:
    // Where out or err is the systemd journal, lines carry their priority.
    HeadlessOperator(std::FILE* out, std::FILE* err);
    void appendLogLine(const QString& line) override;
    void clearLog() override {}
    void appendKeptLine(const QString& line) override { appendLogLine(line); }  // printed too
    // Log lines are printed (the default) or only kept in the daily log;
    // messages and errors are printed always.
    void setPrinting(bool printing) { printing_ = printing; }
    void showMessage(const QString& text) override;
    void showError(const QString& text) override;
    bool askYesCancel(const QString& text) override;
    QString chooseFile(const QString&) override { return QString(); }
    void setProgressMaximum(int maximum) override { maximum_ = maximum; }
    int progressMinimum() const override { return 0; }
    int progressMaximum() const override { return maximum_; }
    void setProgressPosition(int) override {}
    void stepProgress() override {}
    void setStatusText(const QString&) override {}
    void setLossText(const QString&) override {}
    void setStartEnabled(bool) override {}
    void setRunFields(const station::RunFields&) override {}
    void pumpEvents() override;
    void waitMs(int ms) override;

  private:
    void print(std::FILE* to, const QString& text, LineKind kind);

    std::FILE* out_;
    std::FILE* err_;
    bool out_is_journal_;
    bool err_is_journal_;
    bool printing_ = true;
    int maximum_ = 100;
};

// zarv --headless exit statuses besides 0 (ended by a signal or the recording
// time); 2 and 3 are the command line's. A bad config.txt must not be restarted.
constexpr int kExitGaveUp = 1;        // an error recording cannot go on after
constexpr int kExitBadConfig = 4;     // config.txt missing, unreadable or refused
constexpr int kExitNoController = 5;  // no controller at the start, nor after a wait

// How long a station started without its controller waits for it before it
// ends with kExitNoController: a bridge that comes up late is taken at once,
// and under systemd a missing controller costs a few journal lines every two
// minutes instead of a restart every few seconds.
constexpr int kControllerWaitS = 100;

// The exit status for how the run ended.
int HeadlessStatus(acquisition::RunEnd end);

// zarv --headless: records as Start does until a signal ends it or, when
// seconds is above 0, for that long, recovering from a lost link, a silent
// stream and framing errors.
int RunHeadless(device_io::FtApi& api, double seconds, const QString& status_listen = {});

}  // namespace zarv::app
