#include "command_line.h"

#include <QtGlobal>

namespace zarv::app {

StartOptions ParseStartOptions(const QStringList& arguments) {
    StartOptions options;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            options.help = true;
        } else if (a == QLatin1String("-v") || a == QLatin1String("--version")) {
            options.version = true;
        } else if (a == QLatin1String("--headless")) {
            options.headless = true;
        } else if (a == QLatin1String("--duration") || a.startsWith(QLatin1String("--duration="))) {
            const QString value = a.contains(QLatin1Char('=')) ? a.section(QLatin1Char('='), 1)
                                                               : arguments.value(++i);
            bool ok = false;
            options.duration_s = value.toDouble(&ok);
            if ((!ok || !(options.duration_s > 0)) && options.error.isEmpty())
                options.error = QStringLiteral("--duration needs a number of seconds above 0");
        } else if (a == QLatin1String("--station-dir") && i + 1 < arguments.size()) {
            options.station_dir = arguments[++i];
        } else if (a.startsWith(QLatin1String("--station-dir="))) {
            options.station_dir = a.mid(14);
        } else if (a == QLatin1String("--station-dir")) {
            options.error = QStringLiteral("--station-dir needs a directory");
        } else if (a.startsWith(QLatin1Char('-'))) {
            // Qt's own options (-platform, -style, ...) pass on to Qt.
            static const QStringList kQtOptions = {
                QStringLiteral("-platform"),        QStringLiteral("-style"),
                QStringLiteral("-display"),         QStringLiteral("-geometry"),
                QStringLiteral("-qwindowgeometry"), QStringLiteral("-qwindowtitle"),
                QStringLiteral("-reverse")};
            if (kQtOptions.contains(a)) {
                if (a != QLatin1String("-reverse")) ++i;
            } else if (options.error.isEmpty()) {
                options.error = QStringLiteral("unknown option %1").arg(a);
            }
        } else if (options.error.isEmpty()) {
            options.error = QStringLiteral("unexpected argument %1").arg(a);
        }
    }
    // A window runs until it is closed: a recording time means nothing to it.
    if (options.duration_s > 0 && !options.headless && options.error.isEmpty())
        options.error = QStringLiteral("--duration needs --headless");
    return options;
}

QString UsageText(const QString& program) {
    return QStringLiteral(
               "Usage: %1 [--station-dir DIR] [--headless [--duration SECONDS]]\n"
               "The radar operator station. It starts in a station directory: config.txt is\n"
               "read from there, and the log/ folder of daily logs is kept there.\n"
               "\n"
               "  --station-dir DIR  start in DIR instead of the current directory\n"
               "  --headless         record as Start does, without a window, until SIGTERM or\n"
               "                     SIGINT; the log goes to standard output\n"
               "  --duration SECONDS with --headless: end after this long\n"
               "  -h, --help         print this text and exit\n"
               "  -v, --version      print the version and exit\n")
        .arg(program);
}

QString VersionText(const QString& program) {
    return QStringLiteral("%1 %2\n").arg(program, QStringLiteral(ZARV_VERSION));
}

QString MissingDisplay() {
#if defined(Q_OS_LINUX)
    const bool named_platform = qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
    if (!named_platform && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return QStringLiteral(
            "no display to show the window on: neither DISPLAY nor WAYLAND_DISPLAY is set. "
            "Start it from a desktop session, or record without a window with --headless.");
#endif
    return QString();
}

}  // namespace zarv::app
