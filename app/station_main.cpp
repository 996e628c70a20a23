#include "station_main.h"

#include <QApplication>

#include "main_form.h"
#include "views/about_form.h"
#include "views/graph_form.h"

int RunStation(int argc, char** argv, FtApi& api) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);  // the main window alone ends the program
    TMainForm main_form(api);
    TGraphForm graph_form(main_form.station().graph);
    TAboutForm about_form;
    main_form.setSecondaryWindows(&graph_form, &about_form);
    main_form.show();
    return app.exec();
}
