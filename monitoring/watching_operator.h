#pragma once

#include "station/operator.h"

namespace zarv::monitoring {

class StateBoard;

// Passes everything on to the operator it wraps and copies what the status
// line and the log show onto the board: the flows need not know they are
// watched.
class WatchingOperator : public station::Operator {
  public:
    WatchingOperator(station::Operator& inner, StateBoard& board) : inner_(inner), board_(board) {}

    void showMessage(const QString& text) override;
    void appendLogLine(const QString& line) override;
    void clearLog() override { inner_.clearLog(); }
    void appendKeptLine(const QString& line) override { inner_.appendKeptLine(line); }
    void showError(const QString& text) override;
    bool askYesCancel(const QString& text) override { return inner_.askYesCancel(text); }
    QString chooseFile(const QString& filter) override { return inner_.chooseFile(filter); }
    void setProgressMaximum(int maximum) override { inner_.setProgressMaximum(maximum); }
    int progressMinimum() const override { return inner_.progressMinimum(); }
    int progressMaximum() const override { return inner_.progressMaximum(); }
    void setProgressPosition(int position) override { inner_.setProgressPosition(position); }
    void stepProgress() override { inner_.stepProgress(); }
    void setStatusText(const QString& text) override;
    void setLossText(const QString& text) override;
    void setStartEnabled(bool enabled) override { inner_.setStartEnabled(enabled); }
    void setRunFields(const station::RunFields& fields) override;
    void pumpEvents() override { inner_.pumpEvents(); }
    void waitMs(int ms) override { inner_.waitMs(ms); }

  private:
    station::Operator& inner_;
    StateBoard& board_;
};

}  // namespace zarv::monitoring
