#pragma once

#include "station/operator.h"

// An operator who reads nothing, answers Cancel unless told yes, and picks file.
class NullOperator : public zarv::station::Operator {
  public:
    void appendLogLine(const QString&) override {}
    void appendKeptLine(const QString&) override {}
    void clearLog() override {}
    void showMessage(const QString& text) override { last_box = text; }
    void showError(const QString&) override {}
    bool askYesCancel(const QString& text) override {
        last_question = text;
        return yes;
    }
    QString chooseFile(const QString&) override { return file; }
    void setProgressMaximum(int) override {}
    int progressMinimum() const override { return 0; }
    int progressMaximum() const override { return 100; }
    void setProgressPosition(int) override {}
    void stepProgress() override {}
    void setStatusText(const QString&) override {}
    void setLossText(const QString&) override {}
    void setStartEnabled(bool) override {}
    void setRunFields(const zarv::station::RunFields&) override {}
    void pumpEvents() override {}
    void waitMs(int) override {}

    bool yes = false;
    QString file;
    QString last_box;
    QString last_question;
};
