#pragma once

#include <QString>
#include <QStringList>

#include "device_IO/controller_commands.h"
#include "device_IO/message_boxes.h"

namespace zarv::firmware {

// The log line of every update that ends before its code start is written.
inline QString CodeStartKeptLine() {
    return QStringLiteral("Code start not written: the controller keeps its old code start");
}

// A step of the update that could not be carried out: what the station was
// doing ("programming sector D (2 of 3)") and why. Ends the update with one
// message.
struct UpdateStopped {
    QString step;
    QString why;
    bool link_lost = false;
};

// While an update runs, the command layer's boxes are gathered here instead of
// shown: the update says what went wrong once, in its own words.
class GatheredBoxes : public device_io::MessageBoxes {
  public:
    explicit GatheredBoxes(device_io::ControllerCommands& commands)
        : commands_(commands), before_(commands.redirectBoxes(*this)) {}
    ~GatheredBoxes() override { commands_.redirectBoxes(before_); }
    GatheredBoxes(const GatheredBoxes&) = delete;
    GatheredBoxes& operator=(const GatheredBoxes&) = delete;

    void showMessage(const QString& text) override { texts_ << text; }
    // What the boxes since the last take said; empties them.
    QStringList take() { return std::exchange(texts_, {}); }

  private:
    device_io::ControllerCommands& commands_;
    device_io::MessageBoxes& before_;
    QStringList texts_;
};

}  // namespace zarv::firmware
