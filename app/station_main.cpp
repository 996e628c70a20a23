#include "station_main.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <cstdio>

#include <csignal>
#include <cstring>

#include "app_icon.h"
#include "command_line.h"
#include "ending_signals.h"
#include "firmware_command.h"
#include "headless.h"
#include "journal_lines.h"
#include "main_form.h"
#include "products/bufr_outbox.h"
#include "station_dir.h"
#include "views/about_form.h"
#include "views/graph_form.h"
#include "views/radar_form.h"
#include "views/winds_form.h"

namespace zarv::app {

using namespace zarv::device_io;
using namespace zarv::views;

namespace {
// Help, version, the station directory and a display: everything that ends the
// program before a window or a directory is made. -1: go on.
int checkStart(int argc, char** argv, StartOptions& options) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const QString program = QFileInfo(arguments.value(0)).fileName();
    options = ParseStartOptions(arguments);
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "%s: %s\n%s", qPrintable(program), qPrintable(options.error),
                     qPrintable(UsageText(program)));
        return 2;
    }
    if (options.help || options.version) {
        std::fputs(qPrintable(options.help ? UsageText(program) : VersionText(program)), stdout);
        return 0;
    }
    if (!options.station_dir.isEmpty() && !QDir::setCurrent(options.station_dir)) {
        std::fprintf(stderr, "%s: cannot start in station directory %s: no such directory\n",
                     qPrintable(program), qPrintable(options.station_dir));
        return 2;
    }
    if (options.headless || !options.check_image.isEmpty() || !options.verify_firmware.isEmpty())
        return -1;
    if (const QString missing = MissingDisplay(); !missing.isEmpty()) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(program), qPrintable(missing));
        return 3;
    }
    return -1;
}
}  // namespace

int RunStation(int argc, char** argv, FtApi& api) {
    StartOptions options;
    if (const int status = checkStart(argc, argv, options); status >= 0) return status;
    // A full disk or a file-size limit then fails the write instead of ending us.
    std::signal(SIGXFSZ, SIG_IGN);
    if (!options.check_image.isEmpty())
        return CheckImageCommand(options.check_image, stdout, stderr);
    if (!options.verify_firmware.isEmpty()) {
        QCoreApplication app(argc, argv);
        return VerifyFirmwareCommand(api, options.verify_firmware, stdout, stderr);
    }
    if (options.headless) {
        // No window is ever shown; the status page's picture is drawn, with its
        // labels, on an image, which needs fonts and so a GUI application.
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        RouteQtMessagesToJournal();
        QGuiApplication app(argc, argv);
        return RunHeadless(api, options.duration_s, options.status_listen);
    }
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);  // the main window alone ends the program
    app.setWindowIcon(AppIcon());
    QtStationDirAsker asker;
    const StartPlace place = EnterStationDir(options.station_dir, asker);
    TMainForm main_form(api, nullptr, {}, place.chosen);
    TGraphForm graph_form(main_form.run().graph());
    TAboutForm about_form;
    main_form.setSecondaryWindows(&graph_form, &about_form);
    TRadarForm radar_form(main_form.radarFeed(), main_form.station().config.run_config);
    main_form.setRadarWindow(&radar_form);
    TWindsForm winds_form(main_form.radarFeed(), main_form.station().config.run_config,
                          [&] { return main_form.station().log.now().toUTC(); });
    main_form.setWindsWindow(&winds_form);
    QObject::connect(&main_form, &TMainForm::runEnded, &winds_form, &TWindsForm::finishRun);
    products::BufrOutbox bufr(main_form.radarFeed(), main_form.station().config.run_config,
                              main_form.station().log,
                              [&] { return main_form.station().log.now().toUTC(); });
    QObject::connect(&main_form, &TMainForm::runEnded, &bufr, &products::BufrOutbox::finishRun);
    main_form.serveStatus(options.status_listen);
    radar_form.setPictureTaker([&](const QImage& picture) { main_form.showPicture(picture); });
    EndingSignals ending;
    QObject::connect(&ending, &EndingSignals::received, &main_form, [&](int number) {
        main_form.endFromOutside(QStringLiteral("Signal %1 (%2) received: ending")
                                     .arg(number)
                                     .arg(QString::fromLocal8Bit(strsignal(number))));
    });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &main_form, [&] {
        main_form.endFromOutside(QStringLiteral("The desktop session ends: ending"));
    });
    main_form.show();
    return app.exec();
}

}  // namespace zarv::app
