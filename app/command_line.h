#pragma once

#include <QString>
#include <QStringList>

namespace zarv::app {

// What the command line asks of the program.
struct StartOptions {
    bool help = false;
    bool version = false;
    bool headless = false;
    double duration_s = 0;    // --duration: 0 records until a signal
    QString station_dir;      // empty: the current directory
    QString status_listen;    // --status-listen; empty: config.txt's status_listen
    QString check_image;      // --check-image FILE
    QString verify_firmware;  // --verify-firmware FILE
    QString error;            // a line for standard error; non-empty: exit with 2
};

StartOptions ParseStartOptions(const QStringList& arguments);
QString UsageText(const QString& program);
QString VersionText(const QString& program);

// Why no window can be shown, or empty. Checked before Qt is started, which
// would otherwise abort without a word an operator can act on.
QString MissingDisplay();

}  // namespace zarv::app
