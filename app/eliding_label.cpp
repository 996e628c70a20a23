#include "eliding_label.h"

#include <QFontMetrics>
#include <algorithm>

#include "views/accessible_values.h"

namespace zarv::app {

ElidingLabel::ElidingLabel(QWidget* parent) : QLabel(parent) {
    // Its text's width when there is room, down to nothing when there is not.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void ElidingLabel::setFullText(const QString& text) {
    full_text_ = text;
    setToolTip(text);
    views::SetReadValue(this, text);
    updateGeometry();
    elide();
}

QSize ElidingLabel::minimumSizeHint() const {
    return {0, QLabel::minimumSizeHint().height()};
}

QSize ElidingLabel::sizeHint() const {
    return {fontMetrics().horizontalAdvance(full_text_) + 2 * margin() + 4,
            QLabel::sizeHint().height()};
}

void ElidingLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void ElidingLabel::elide() {
    const int room = contentsRect().width() - 2 * margin();
    setText(fontMetrics().elidedText(full_text_, Qt::ElideRight, std::max(room, 0)));
}

}  // namespace zarv::app
