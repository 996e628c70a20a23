#pragma once

#include <QString>

class QLabel;
class QWidget;

namespace zarv::views {

// What assistive technology reads. A label that shows a value is read as what
// it is and what it shows ("Serial number 1001"), current as its text changes;
// an accessible name set on the label would replace the value instead.
void NameValueLabel(QLabel* label, const QString& what);

// The value read for a label whose text is cut short to fit: the whole of it.
void SetReadValue(QLabel* label, const QString& value);

// A top-level widget read as a window, not as an anonymous pane.
void NameAsWindow(QWidget* window);

}  // namespace zarv::views
