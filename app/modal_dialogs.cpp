#include "modal_dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>

namespace zarv::app {

void CloseOpenDialogs() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* dialog = qobject_cast<QDialog*>(widget);
        if (dialog && dialog->isVisible() && dialog->isModal()) dialog->reject();
    }
}

void QtModalDialogs::message(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), text,
                    QMessageBox::Ok, parent);
    box.exec();
}

void QtModalDialogs::error(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox::critical(parent, title, text);
}

bool QtModalDialogs::yesCancel(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Yes | QMessageBox::Cancel,
                    parent);
    box.setDefaultButton(QMessageBox::Cancel);  // Enter must not start what cannot be undone
    return box.exec() == QMessageBox::Yes;
}

QString QtModalDialogs::openFile(QWidget* parent, const QString& filter, const QString& folder) {
    // "Description (*.x)|*.x" pairs become Qt's "Description (*.x)" entries.
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList names;
    for (int i = 0; i < parts.size(); i += 2) names << parts[i];
    return QFileDialog::getOpenFileName(parent, QString(), folder,
                                        names.join(QStringLiteral(";;")));
}

}  // namespace zarv::app
