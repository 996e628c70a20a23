#pragma once

#include <QDialog>

class QLabel;

namespace zarv::about {
struct AboutTexts;
}  // namespace zarv::about

namespace zarv::station {
class ControllerSession;
}  // namespace zarv::station

namespace zarv::views {

using about::AboutTexts;
using station::ControllerSession;

// The controller's serial number and revisions, read anew each time it opens.
class TAboutForm : public QDialog {
    Q_OBJECT
  public:
    explicit TAboutForm(QWidget* parent = nullptr);

    // Shows the window and, when the controller answers, its identity.
    void showIdentity(ControllerSession& session);
    void showTexts(const AboutTexts& texts);

    QLabel* serial_no = nullptr;
    QLabel* application_rev = nullptr;
    QLabel* firmware_rev = nullptr;
    QLabel* hardware_rev = nullptr;
};

}  // namespace zarv::views
