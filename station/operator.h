#pragma once

#include <QString>

#include "device_IO/message_boxes.h"
#include "run_fields.h"

namespace zarv::station {

using device_io::MessageBoxes;

// Everything a flow says to or asks of the operator goes through here. The main
// window implements it with widgets; tests use a recorder that answers dialogs
// from a script.
class Operator : public MessageBoxes {
  public:
    // Operator log: a whole line, time stamp included.
    virtual void appendLogLine(const QString& line) = 0;
    virtual void clearLog() = 0;
    // A line the window's log leaves unsaid, such as which file or key an error
    // box means: headless prints it; the daily log has it from OperatorLog.
    virtual void appendKeptLine(const QString& line) = 0;

    // Modal boxes.
    virtual void showError(const QString& text) = 0;        // error box titled with the app's title
    virtual bool askYesCancel(const QString& text) = 0;     // true only for Yes
    virtual QString chooseFile(const QString& filter) = 0;  // empty when cancelled

    // Toolbar progress bar and status bar.
    virtual void setProgressMaximum(int maximum) = 0;
    virtual int progressMinimum() const = 0;
    virtual int progressMaximum() const = 0;
    virtual void setProgressPosition(int position) = 0;
    virtual void stepProgress() = 0;
    virtual void setStatusText(const QString& text) = 0;
    // Stream data the station could not record in the current dwell; empty: none.
    virtual void setLossText(const QString& text) = 0;
    virtual void setStartEnabled(bool enabled) = 0;
    // The status line's fields during and after a run.
    virtual void setRunFields(const RunFields& fields) = 0;

    // Let the window handle pending events once, or for at least ms milliseconds.
    virtual void pumpEvents() = 0;
    virtual void waitMs(int ms) = 0;
};

}  // namespace zarv::station
