#include "about_form.h"

#include <QFrame>
#include <QLabel>

#include "about/about_query.h"
#include "accessible_values.h"

namespace zarv::views {

using namespace zarv::about;
using namespace zarv::station;

namespace {
QLabel* label(QWidget* parent, const QString& text, int x, int y, int width) {
    auto* l = new QLabel(text, parent);
    l->setGeometry(x, y, width, 16);
    return l;
}
}  // namespace

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About"));
    setFixedSize(202, 137);
    setModal(false);
    QFont base = font();
    base.setPixelSize(11);
    setFont(base);

    auto* title = label(this, QStringLiteral("Zarv"), 8, 4, 186);
    QFont title_font = base;
    title_font.setPixelSize(16);
    title_font.setBold(true);
    title->setFont(title_font);
    title->setFixedHeight(22);
    auto* subtitle = label(this, QStringLiteral("Radar operator station"), 8, 30, 186);
    QFont subtitle_font = base;
    subtitle_font.setPixelSize(13);
    subtitle->setFont(subtitle_font);
    subtitle->setFixedHeight(18);

    auto* panel = new QFrame(this);
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setGeometry(8, 56, 185, 73);
    // Word 2 of the information block is the firmware revision, word 3 the hardware one.
    const char* const captions[] = {
        "Serial number:", "Application revision:", "Firmware revision:", "Hardware revision:"};
    QFont caption_font = base;
    caption_font.setStretch(QFont::Condensed);
    for (int row = 0; row < 4; ++row) {
        QLabel* caption = label(panel, QString::fromLatin1(captions[row]), 8, 4 + 16 * row, 94);
        caption->setFont(caption_font);
        // Shrinks a caption that the font draws wider than the 94 pixels before the values.
        while (caption->fontMetrics().horizontalAdvance(caption->text()) > 94 &&
               caption_font.pixelSize() > 8) {
            caption_font.setPixelSize(caption_font.pixelSize() - 1);
            caption->setFont(caption_font);
        }
    }
    serial_no = label(panel, QStringLiteral("serial_no"), 104, 4, 78);
    application_rev = label(panel, QStringLiteral("application_rev"), 104, 20, 78);
    firmware_rev = label(panel, QStringLiteral("firmware_rev"), 104, 36, 78);
    hardware_rev = label(panel, QStringLiteral("hardware_rev"), 104, 52, 78);
    // A screen reader reads each value after its caption.
    QLabel* const values[] = {serial_no, application_rev, firmware_rev, hardware_rev};
    for (int row = 0; row < 4; ++row)
        NameValueLabel(values[row], QString::fromLatin1(captions[row]).chopped(1));
}

void TAboutForm::showIdentity(ControllerSession& session) {
    show();
    move(180, 180);
    if (const auto texts = QueryAbout(session)) showTexts(*texts);
}

void TAboutForm::showTexts(const AboutTexts& texts) {
    serial_no->setText(texts.serial_no);
    application_rev->setText(texts.application_rev);
    firmware_rev->setText(texts.firmware_rev);
    hardware_rev->setText(texts.hardware_rev);
}

}  // namespace zarv::views
