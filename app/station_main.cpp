#include "station_main.h"

#include <QApplication>

#include <csignal>
#include <cstring>

#include "ending_signals.h"
#include "main_form.h"
#include "views/about_form.h"
#include "views/graph_form.h"

namespace zarv::app {

using namespace zarv::device_io;
using namespace zarv::views;

int RunStation(int argc, char** argv, FtApi& api) {
    // A full disk or a file-size limit then fails the write instead of ending us.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);  // the main window alone ends the program
    TMainForm main_form(api);
    TGraphForm graph_form(main_form.run().graph());
    TAboutForm about_form;
    main_form.setSecondaryWindows(&graph_form, &about_form);
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
