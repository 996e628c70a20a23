#include "command_line.h"

#include <QCommandLineParser>
#include <QtGlobal>
#include <cmath>

#include "monitoring/listen_address.h"

namespace zarv::app {

namespace {

// Qt's own options (-platform, -style, ...) pass on to Qt, which reads them when
// the application is made.
QList<QCommandLineOption> QtOptions() {
    QList<QCommandLineOption> options;
    for (const char* name :
         {"platform", "style", "display", "geometry", "qwindowgeometry", "qwindowtitle"})
        options << QCommandLineOption(QLatin1String(name), QString(), QStringLiteral("value"));
    options << QCommandLineOption(QStringLiteral("reverse"));
    for (QCommandLineOption& option : options) option.setFlags(QCommandLineOption::HiddenFromHelp);
    return options;
}

QString Dashed(const QString& name) {
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

// The parser's refusal, in the station's words.
QString ParseError(const QCommandLineParser& parser) {
    if (!parser.unknownOptionNames().isEmpty())
        return QStringLiteral("unknown option %1").arg(Dashed(parser.unknownOptionNames().first()));
    const QString text = parser.errorText();
    if (text.contains(QLatin1String("station-dir")))
        return QStringLiteral("--station-dir needs a directory");
    if (text.contains(QLatin1String("status-listen")))
        return QStringLiteral("--status-listen needs [ADDRESS:]PORT");
    if (text.contains(QLatin1String("check-image")))
        return QStringLiteral("--check-image needs a firmware image file");
    if (text.contains(QLatin1String("verify-firmware")))
        return QStringLiteral("--verify-firmware needs a firmware image file");
    if (text.contains(QLatin1String("duration")))
        return QStringLiteral("--duration needs a number of seconds above 0");
    return text;
}

}  // namespace

StartOptions ParseStartOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    // -platform is one of Qt's options, not -p -l -a ...
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, QString());
    const QCommandLineOption headless(QStringLiteral("headless"), QString());
    const QCommandLineOption duration(QStringLiteral("duration"), QString(),
                                      QStringLiteral("seconds"));
    const QCommandLineOption station_dir(QStringLiteral("station-dir"), QString(),
                                         QStringLiteral("dir"));
    const QCommandLineOption status_listen(QStringLiteral("status-listen"), QString(),
                                           QStringLiteral("address"));
    const QCommandLineOption check_image(QStringLiteral("check-image"), QString(),
                                         QStringLiteral("file"));
    const QCommandLineOption verify_firmware(QStringLiteral("verify-firmware"), QString(),
                                             QStringLiteral("file"));
    parser.addOptions({help, version, headless, duration, station_dir, status_listen, check_image,
                       verify_firmware});
    parser.addOptions(QtOptions());

    StartOptions options;
    if (!parser.parse(arguments)) {
        options.error = ParseError(parser);
        return options;
    }
    options.help = parser.isSet(help);
    options.version = parser.isSet(version);
    options.headless = parser.isSet(headless);
    options.station_dir = parser.value(station_dir);
    options.status_listen = parser.value(status_listen);
    if (parser.isSet(status_listen)) {
        const monitoring::ListenAddress where =
            monitoring::ParseListenAddress(options.status_listen);
        if (!where.error.isEmpty())
            options.error = QStringLiteral("--status-listen ") + where.error.section(' ', 1);
    }
    options.check_image = parser.value(check_image);
    options.verify_firmware = parser.value(verify_firmware);
    for (const QCommandLineOption* once :
         {&duration, &station_dir, &status_listen, &check_image, &verify_firmware})
        if (parser.values(*once).size() > 1)
            options.error =
                QStringLiteral("%1 is given more than once").arg(Dashed(once->names()[0]));
    if (parser.isSet(duration)) {
        bool ok = false;
        options.duration_s = parser.value(duration).toDouble(&ok);
        if (!ok || !(options.duration_s > 0) || !std::isfinite(options.duration_s))
            options.error = QStringLiteral("--duration needs a number of seconds above 0");
    }
    if (!parser.positionalArguments().isEmpty())
        options.error =
            QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first());
    // A firmware check is a command of its own: it records nothing.
    const int firmware_commands =
        int{parser.isSet(check_image)} + int{parser.isSet(verify_firmware)};
    if (firmware_commands > 0 && options.error.isEmpty()) {
        if (firmware_commands > 1)
            options.error = QStringLiteral("--check-image and --verify-firmware go one at a time");
        else if (options.headless || parser.isSet(status_listen) || parser.isSet(duration))
            options.error =
                QStringLiteral("--%1 goes without --headless, --duration and --status-listen")
                    .arg(parser.isSet(check_image) ? QStringLiteral("check-image")
                                                   : QStringLiteral("verify-firmware"));
        return options;
    }
    // A window runs until it is closed: a recording time means nothing to it.
    if (parser.isSet(duration) && !options.headless && options.error.isEmpty())
        options.error = QStringLiteral("--duration needs --headless");
    return options;
}

QString UsageText(const QString& program) {
    return QStringLiteral(
               "Usage: %1 [--station-dir DIR] [--status-listen [ADDRESS:]PORT]\n"
               "       [--headless [--duration SECONDS]]\n"
               "       %1 --check-image FILE\n"
               "       %1 [--station-dir DIR] --verify-firmware FILE\n"
               "The radar operator station. It starts in a station directory: config.txt is\n"
               "read from there, and the log/ folder of daily logs is kept there.\n"
               "\n"
               "  --station-dir DIR  start in DIR instead of the current directory\n"
               "  --headless         record as Start does, without a window, until SIGTERM or\n"
               "                     SIGINT; the log goes to standard output\n"
               "  --duration SECONDS with --headless: end after this long\n"
               "  --status-listen [ADDRESS:]PORT\n"
               "                     serve the station's state read-only over HTTP (/metrics,\n"
               "                     /status.json, a page at /); a port alone: 127.0.0.1\n"
               "  --check-image FILE check a firmware image as an update would, without a\n"
               "                     controller; exit 0 when accepted, 6 when refused\n"
               "  --verify-firmware FILE\n"
               "                     compare the controller's firmware with an image; exit 0\n"
               "                     when it matches, 1 when it differs, 5 without a\n"
               "                     controller, 6 for a refused image, 7 when unreadable\n"
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
