#include "accessible_values.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLabel>
#include <QVariant>

namespace zarv::views {

namespace {
const char* const kWhat = "zarv_value_name";
const char* const kValue = "zarv_read_value";
const char* const kWindow = "zarv_window";

class ValueLabelAccessible : public QAccessibleWidget {
  public:
    explicit ValueLabelAccessible(QLabel* label)
        : QAccessibleWidget(label, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override {
        if (t != QAccessible::Name) return QAccessibleWidget::text(t);
        const auto* label = static_cast<const QLabel*>(widget());
        const QVariant read = label->property(kValue);
        const QString value = read.isValid() ? read.toString() : label->text();
        const QString what = label->property(kWhat).toString();
        return value.isEmpty() ? what : what + QLatin1Char(' ') + value;
    }
};

class WindowAccessible : public QAccessibleWidget {
  public:
    explicit WindowAccessible(QWidget* window) : QAccessibleWidget(window, QAccessible::Window) {}
};

QAccessibleInterface* Factory(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget) return nullptr;
    if (auto* label = qobject_cast<QLabel*>(widget); label && label->property(kWhat).isValid())
        return new ValueLabelAccessible(label);
    if (widget->property(kWindow).toBool()) return new WindowAccessible(widget);
    return nullptr;
}

void InstallFactory() {
    static const bool installed = [] {
        QAccessible::installFactory(Factory);
        return true;
    }();
    (void)installed;
}

// Qt may have made the widget's interface already (a label's text set at its
// creation does); the cached one is dropped so that the next query makes ours.
template <typename Ours>
void RenewInterface(QWidget* widget) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
    if (iface && !dynamic_cast<Ours*>(iface))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(iface));
}

void NameChanged(QObject* object) {
    QAccessibleEvent event(object, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}
}  // namespace

void NameValueLabel(QLabel* label, const QString& what) {
    InstallFactory();
    label->setProperty(kWhat, what);
    RenewInterface<ValueLabelAccessible>(label);
    NameChanged(label);
}

void SetReadValue(QLabel* label, const QString& value) {
    label->setProperty(kValue, value);
    NameChanged(label);
}

void NameAsWindow(QWidget* window) {
    InstallFactory();
    window->setProperty(kWindow, true);
    RenewInterface<WindowAccessible>(window);
}

}  // namespace zarv::views
