#pragma once

#include "station/operator.h"

// An operator who reads nothing and answers Cancel.
class NullOperator : public Operator {
  public:
    void appendLogLine(const QString&) override {}
    void clearLog() override {}
    void showMessage(const QString&) override {}
    void showError(const QString&) override {}
    bool askYesCancel(const QString&) override { return false; }
    QString chooseFile(const QString&) override { return QString(); }
    void setProgressMaximum(int) override {}
    int progressMinimum() const override { return 0; }
    int progressMaximum() const override { return 100; }
    void setProgressPosition(int) override {}
    void stepProgress() override {}
    void setStatusText(const QString&) override {}
    void setLossText(const QString&) override {}
    void setStartEnabled(bool) override {}
    void pumpEvents() override {}
    void waitMs(int) override {}
};
