#pragma once

#include <QCoreApplication>
#include <QQueue>
#include <QStringList>
#include <ostream>

#include "station/delay.h"
#include "station/operator.h"
#include "test_support.h"

using namespace zarv::station;

// Keeps every call in order and answers dialogs from a script; an empty script
// answers Cancel.
class RecorderOperator : public Operator {
  public:
    QStringList log;     // whole lines, time stamps included
    QStringList kept;    // lines for the kept log only
    QStringList boxes;   // texts of OK boxes, in order
    QStringList errors;  // texts of error boxes
    QStringList questions;
    QQueue<bool> answers;
    QQueue<QString> files;
    QStringList filters;
    QStringList statuses;
    QStringList loss_texts;
    QList<zarv::station::RunFields> run_fields;
    int progress_max = 100;
    QList<int> maxima;  // every range the bar was given, in order
    QStringList bar;    // "max n" and "pos n", in order
    bool beyond_maximum = false;
    int progress = 0;
    int steps = 0;
    bool start_enabled = true;
    QList<int> waits;
    bool real_waits = true;
    std::function<void(const QString&)> on_box;  // lets a test act while a box is open
    std::function<void(const QString&)> on_status;
    std::function<void()> on_pump;  // or while the flow pumps events

    void appendLogLine(const QString& line) override { log << line; }
    void appendKeptLine(const QString& line) override { kept << line; }
    void clearLog() override { log.clear(); }
    void showMessage(const QString& text) override {
        boxes << text;
        if (on_box) on_box(text);
    }
    void showError(const QString& text) override { errors << text; }
    bool askYesCancel(const QString& text) override {
        questions << text;
        return !answers.isEmpty() && answers.dequeue();
    }
    QString chooseFile(const QString& filter) override {
        filters << filter;
        return files.isEmpty() ? QString() : files.dequeue();
    }
    void setProgressMaximum(int maximum) override {
        progress_max = maximum;
        maxima << maximum;
        bar << QStringLiteral("max %1").arg(maximum);
    }
    int progressMinimum() const override { return 0; }
    int progressMaximum() const override { return progress_max; }
    void setProgressPosition(int position) override {
        progress = position;
        bar << QStringLiteral("pos %1").arg(position);
        if (position > progress_max) beyond_maximum = true;
    }
    void stepProgress() override {
        ++steps;
        progress = progress + 1 > progress_max ? 0 : progress + 1;
    }
    void setStatusText(const QString& text) override {
        statuses << text;
        if (on_status) on_status(text);
    }
    void setLossText(const QString& text) override { loss_texts << text; }
    void setStartEnabled(bool enabled) override { start_enabled = enabled; }
    void setRunFields(const zarv::station::RunFields& fields) override { run_fields << fields; }
    void pumpEvents() override {
        if (on_pump) on_pump();
        QCoreApplication::processEvents();
    }
    void waitMs(int ms) override {
        waits << ms;
        if (real_waits)
            DelayMs(ms);
        else
            QCoreApplication::processEvents();
    }

    // The log lines without their 19-character time stamps.
    QStringList messages() const {
        QStringList out;
        for (const QString& line : log) out << line.mid(19);
        return out;
    }
};
