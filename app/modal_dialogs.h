#pragma once

#include <QString>

class QWidget;

namespace zarv::app {

// The modal boxes and the file dialog of the main window. Tests of the window
// put a scripted set in their place.
class ModalDialogs {
  public:
    virtual ~ModalDialogs() = default;
    virtual void message(QWidget* parent, const QString& text) = 0;
    virtual void error(QWidget* parent, const QString& title, const QString& text) = 0;
    virtual bool yesCancel(QWidget* parent, const QString& title, const QString& text) = 0;
    // filter in the form "Firmware image (*.hex)|*.hex"; empty when cancelled
    virtual QString openFile(QWidget* parent, const QString& filter, const QString& folder) = 0;
};

// Closes every modal dialog that is open as Escape would, so that a question
// comes back Cancel and a file dialog empty.
void CloseOpenDialogs();

class QtModalDialogs : public ModalDialogs {
  public:
    void message(QWidget* parent, const QString& text) override;
    void error(QWidget* parent, const QString& title, const QString& text) override;
    bool yesCancel(QWidget* parent, const QString& title, const QString& text) override;
    QString openFile(QWidget* parent, const QString& filter, const QString& folder) override;
};

}  // namespace zarv::app
