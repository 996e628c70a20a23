#pragma once

#include <QQueue>
#include <QStringList>

#include "app/modal_dialogs.h"

using namespace zarv::app;

// Modal boxes of the main window, answered from a script without blocking.
class ScriptedDialogs : public ModalDialogs {
  public:
    QStringList messages;
    QStringList errors;  // "title|text"
    QQueue<bool> answers;
    QQueue<QString> files;
    // Questions asked in a real modal box that stays open until someone answers
    // or closes it.
    bool real_questions = false;

    void message(QWidget*, const QString& text) override { messages << text; }
    void error(QWidget*, const QString& title, const QString& text) override {
        errors << title + '|' + text;
    }
    bool yesCancel(QWidget* parent, const QString& title, const QString& text) override {
        if (real_questions) return QtModalDialogs().yesCancel(parent, title, text);
        return !answers.isEmpty() && answers.dequeue();
    }
    QString openFile(QWidget*, const QString&, const QString&) override {
        return files.isEmpty() ? QString() : files.dequeue();
    }
};
