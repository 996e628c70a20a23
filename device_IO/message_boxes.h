#pragma once

#include <QString>

namespace zarv::device_io {

// What the link and the command set tell the operator: plain boxes with an OK
// button. The station's operator interface is one.
class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;
    virtual void showMessage(const QString& text) = 0;
};

}  // namespace zarv::device_io
