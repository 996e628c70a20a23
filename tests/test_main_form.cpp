#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QValueAxis>
#include "act_when.h"
#include "app/app_icon.h"
#include "app/headless.h"
#include "station/delay.h"
#include "views/radar_form.h"
#include "views/radar_plots.h"

#include <unistd.h>
#include <csignal>

#include "about/about_query.h"
#include "app/app_icon.h"
#include "app/ending_signals.h"
#include "app/main_form.h"
#include "data_file_checker.h"
#include "hex_builder.h"
#include "main_form_fixture.h"
#include "scripted_dialogs.h"
#include "station/station_error.h"
#include "station_fixture.h"
#include "views/about_form.h"
#include "views/graph_form.h"

using namespace zarv::app;
using namespace zarv::station;
using namespace zarv::views;

namespace {
TEST_F(MainFormTest, FormCreateWithConfigEchoesAndMoves) {
    writeDefaultConfig();
    auto form = makeForm();
    EXPECT_EQ(form->windowTitle(), "Zarv");
    EXPECT_EQ(form->pos(), QPoint(100, 50));
    EXPECT_TRUE(form->run().graph().graphLive());
    EXPECT_EQ(form->station().config.start_dir, dir.path());
    const QStringList lines = form->logpad->toPlainText().split('\n');
    ASSERT_EQ(lines.size(), 25);
    const QRegularExpression stamp("^\\d\\d/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d: ");
    for (const QString& line : lines)
        EXPECT_TRUE(stamp.match(line).hasMatch()) << line.toStdString();
    EXPECT_EQ(lines[0].mid(19), "Reading configuration file [" + path("config.txt") + "]");
    for (const QString& line : lines) EXPECT_EQ(line.left(19), lines[0].left(19));
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST_F(MainFormTest, EveryLogLineAlsoGoesToTheDailyLogWhichSurvivesStart) {
    writeDefaultConfig();
    auto form = std::make_unique<TMainForm>(
        *sim, &dialogs, [] { return QDateTime(QDate(2026, 12, 8), QTime(6, 1, 2)); });
    form->setDelay([](int ms) { DelayMs(std::min(ms, 50)); });
    const QStringList created = form->logpad->toPlainText().split('\n');
    const auto stop = [&] { form->stop_btn->trigger(); };
    ActWhen started([&] { return sim->triggerStarts() >= 1; }, stop, stop);
    form->start_btn->trigger();  // clears the window, not the file
    const QStringList run = form->logpad->toPlainText().split('\n');
    EXPECT_EQ(FirstOf(run).mid(19), "Reading configuration file [" + path("config.txt") + "]");
    // The file adds a line naming each dwell's file and records, and the run's
    // summary, which the window shows in its status line.
    QStringList kept = QString::fromUtf8(readFile(path("log/zarv-20261208.log"))).split('\n');
    const QStringList dwell_lines =
        kept.filter(QRegularExpression("^08/12/26 06:01:02: Dwell beam 1 recorded in "
                                       ".*_beam1\\.txt: [\\d,]+ of [\\d,]+ records$"));
    ASSERT_EQ(dwell_lines.size(), 1) << kept.join('\n').toStdString();
    kept.removeAll(dwell_lines[0]);
    ASSERT_EQ(kept.size(), created.size() + run.size() + 2);
    EXPECT_EQ(kept.mid(0, kept.size() - 2), created + run);
    EXPECT_EQ(kept[kept.size() - 2].mid(19), form->run_field->fullText());
    EXPECT_TRUE(kept[kept.size() - 2].mid(19).startsWith("Last run: 1 dwells, "));
    // In the window's status line the summary shows what fits, the rest in its
    // tooltip: never a field cut off mid-letter past the window's edge.
    form->show();
    const ElidingLabel* field = form->run_field;
    EXPECT_EQ(field->toolTip(), field->fullText());
    EXPECT_LE(field->fontMetrics().horizontalAdvance(field->text()), field->contentsRect().width());
    EXPECT_LE(field->mapTo(form.get(), QPoint(field->width(), 0)).x(), form->width());
    if (field->text() != field->fullText()) {
        EXPECT_TRUE(field->text().endsWith(QChar(0x2026)));
    }
    form->resize(2000, form->height());
    QApplication::processEvents();
    EXPECT_EQ(field->text(), field->fullText());  // room enough: the whole summary
}

TEST_F(MainFormTest, TheDailyLogNamesWhatAFixedErrorBoxMeans) {
    auto form = makeForm();  // no config.txt yet
    writeDefaultConfig();
    replaceConfigLine("gates", "gates=four");
    form->start_btn->trigger();
    ASSERT_EQ(dialogs.errors.size(), 2);
    const QString kept = QString::fromUtf8(readFile(form->dailyLogPath()));
    EXPECT_TRUE(kept.contains(": File not found: " + path("config.txt") + "\n")) << kept;
    EXPECT_TRUE(
        kept.contains(": Key gates in " + path("config.txt") + ": 'four' is not a valid integer"))
        << kept;
    EXPECT_EQ(form->logpad->toPlainText().split('\n').filter(path("config.txt")).size(), 1);
}

TEST_F(MainFormTest, SettingsWithNoApplicationForTextFilesSaysSoInTheLog) {
    writeDefaultConfig();
    auto form = makeForm();
    QUrl asked;
    form->setDocumentOpener([&](const QUrl& url) {
        asked = url;
        return false;
    });
    form->settings_btn->trigger();
    EXPECT_EQ(asked, QUrl::fromLocalFile(path("config.txt")));
    EXPECT_EQ(LastOf(form->logpad->toPlainText().split('\n')).mid(19),
              "No application opens " + path("config.txt") + "; edit it with any text editor");
    form->setDocumentOpener([](const QUrl&) { return true; });
    const qsizetype lines = form->logpad->toPlainText().split('\n').size();
    form->settings_btn->trigger();
    EXPECT_EQ(form->logpad->toPlainText().split('\n').size(), lines);
}

TEST_F(MainFormTest, ADailyLogThatCannotBeWrittenIsReportedOnceAndNothingElseChanges) {
    writeDefaultConfig();
    writeFile("log", "a file where the log folder would be");
    auto form = makeForm();
    form->station().log.LogMessage("one more line");
    const QStringList lines = form->logpad->toPlainText().split('\n');
    ASSERT_EQ(lines.filter("Cannot write the daily log").size(), 1);
    EXPECT_TRUE(lines[1].mid(19).startsWith("Cannot write the daily log " + path("log/zarv-")));
    EXPECT_EQ(lines.size(), 25 + 1 + 1);  // the echo, the report, the line after
    EXPECT_EQ(LastOf(lines).mid(19), "one more line");
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST_F(MainFormTest, HeadlessRecordsWhatTheWindowRecords) {
    const auto settings = [&](const QString& data) {
        return DefaultConfigText(path(data)).replace("dwell_time=0.6", "dwell_time=0.4");
    };
    writeConfig(settings("gui"));
    auto form = makeForm();
    const auto stop = [&] { form->stop_btn->trigger(); };
    ActWhen first_dwell_over(
        [&] { return sim->triggerStarts() >= 1 && !sim->programmed().triggering; }, stop, stop);
    form->start_btn->trigger();
    form.reset();  // as the window's program ends: the bridge is free again
    writeConfig(settings("headless"));
    ASSERT_EQ(RunHeadless(*sim, 0.6), 0);  // ends during the second dwell
    const auto gui = ReadDwellBlocks(path("gui"));
    const auto headless = ReadDwellBlocks(path("headless"));
    ASSERT_GE(gui.size(), 1u);
    ASSERT_GE(headless.size(), 1u);
    const DwellBlock& a = gui[0];
    const DwellBlock& b = headless[0];
    // Byte for byte, time stamps and paths aside.
    EXPECT_EQ(a.header.mid(2), b.header.mid(2));
    // As many records as each dwell lasted; the same ones from the start on.
    const qsizetype common = std::min(a.records.size(), b.records.size());
    EXPECT_GT(common, 0);
    EXPECT_EQ(a.records.mid(0, common), b.records.mid(0, common));
    EXPECT_EQ(MismatchedRecords(a, 4, 10, 60000), 0);
    EXPECT_EQ(MismatchedRecords(b, 4, 10, 60000), 0);
}

TEST_F(MainFormTest, FormCreateCutShortByMissingFile) {
    auto form = makeForm();
    const QStringList lines = form->logpad->toPlainText().split('\n');
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].endsWith("Reading configuration file [" + path("config.txt") + "]"));
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_EQ(dialogs.errors[0], QGuiApplication::applicationDisplayName() +
                                     "|File not found.\n\n" + path("config.txt"));
    EXPECT_EQ(form->pos(), QPoint(184, 35));
    EXPECT_FALSE(form->run().graph().graphLive());
    EXPECT_FALSE(form->station().session.triggering());
}

TEST_F(MainFormTest, ToolbarAndMenu) {
    writeDefaultConfig();
    auto form = makeForm();
    const QList<QAction*> buttons{form->start_btn, form->stop_btn, form->settings_btn,
                                  form->graph_btn};
    const QStringList tips{"Start (F5)", "Stop (Shift+F5, Ctrl+.)", "Settings (Ctrl+,)",
                           "Graph (Ctrl+G)"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(buttons[i]->toolTip(), tips[i]);
        EXPECT_EQ(buttons[i]->icon().availableSizes().value(0), QSize(40, 40));
        EXPECT_EQ(form->ToolBar1->widgetForAction(buttons[i])->size(), QSize(47, 46));
    }
    EXPECT_EQ(form->ProgressBar1->size(), QSize(336, 46));
    QStringList menus;
    for (QAction* a : form->MainMenu1->actions()) menus << a->text();
    EXPECT_EQ(menus, QStringList({"&File", "&Edit", "&View", "&Help"}));  // shown without the &
    EXPECT_EQ(form->Close1->iconText(), "Close");
    EXPECT_EQ(form->About1->iconText(), "About");
    EXPECT_EQ(form->FirmwareUpgrade1->iconText(), "Firmware Upgrade");
    for (QAction* a : buttons) EXPECT_EQ(a->text(), a->toolTip().section(" (", 0, 0));
    // The radar view's button comes after the bar, so the others keep their places.
    EXPECT_EQ(form->radar_btn->toolTip(), "Radar View (Ctrl+R)");
    EXPECT_EQ(LastOf(form->ToolBar1->actions()), form->radar_btn);
    form->show();  // the window's width holds it too, not the toolbar's overflow menu
    EXPECT_TRUE(form->ToolBar1->widgetForAction(form->radar_btn)->isVisible());
    // Buttons and separators side by side from the toolbar's left edge: the bar
    // starts at 47 + 47 + 35 + 47 + 41 + 47 + 41.
    const auto left = [&](QWidget* w) { return w->mapTo(form->ToolBar1, QPoint(0, 0)).x(); };
    EXPECT_EQ(left(form->ToolBar1->widgetForAction(form->start_btn)), 0);
    EXPECT_EQ(left(form->ToolBar1->widgetForAction(form->settings_btn)), 129);
    EXPECT_EQ(left(form->ProgressBar1), 305);
    EXPECT_EQ(form->ToolBar1->height(), 54);
    EXPECT_TRUE(form->MainMenu1->actions()[2]->menu()->actions().contains(form->radar_btn));
    EXPECT_TRUE(form->MainMenu1->actions()[1]->menu()->actions().contains(form->settings_btn));
}

TEST_F(MainFormTest, KeysReachTheCommands) {
    writeDefaultConfig();
    sim->setDeviceCount(0);
    auto form = makeForm();
    TGraphForm graph(form->run().graph());
    TAboutForm about;
    form->setSecondaryWindows(&graph, &about);
    TRadarForm radar(form->radarFeed(), form->station().config.run_config);
    form->setRadarWindow(&radar);
    form->show();
    QApplication::setActiveWindow(form.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    QTest::keyClick(form.get(), Qt::Key_F5);  // Start: no controller attached
    EXPECT_EQ(LastOf(form->logpad->toPlainText().split('\n')).mid(19), "Zarv not found!");
    EXPECT_TRUE(form->station().session.triggering());
    QTest::keyClick(form.get(), Qt::Key_Period, Qt::ControlModifier);  // Stop
    EXPECT_FALSE(form->station().session.triggering());
    LeaveTriggering(form->station().session);
    QTest::keyClick(form.get(), Qt::Key_F5, Qt::ShiftModifier);  // Stop
    EXPECT_FALSE(form->station().session.triggering());
    QTest::keyClick(form.get(), Qt::Key_G, Qt::ControlModifier);
    EXPECT_TRUE(graph.isVisible());
    EXPECT_TRUE(graph.isWindow());
    QApplication::setActiveWindow(form.get());
    QTest::keyClick(form.get(), Qt::Key_R, Qt::ControlModifier);
    EXPECT_TRUE(radar.isVisible());
    EXPECT_TRUE(radar.isWindow());
    QApplication::setActiveWindow(form.get());
    QUrl settings;
    form->setDocumentOpener([&](const QUrl& url) {
        settings = url;
        return true;
    });
    QTest::keyClick(form.get(), Qt::Key_Comma, Qt::ControlModifier);
    EXPECT_EQ(settings, QUrl::fromLocalFile(path("config.txt")));
    QTest::keyClick(form.get(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(form->isVisible());
}

TEST_F(MainFormTest, TheRunFieldsChangeAtMostTwiceASecondButANewBeamAtOnce) {
    auto form = makeForm();
    form->setFieldsInterval(3'600'000);  // however slow the machine, within one interval
    zarv::station::RunFields f;
    f.beam = 1;
    f.dwell_length_s = 5;
    for (int tenth = 1; tenth <= 4; ++tenth) {  // ten times a second, as a run sends them
        f.dwell_s = tenth / 10.0;
        form->setRunFields(f);
    }
    EXPECT_TRUE(form->run_field->fullText().startsWith("Beam 1 · 0.1 / 5.0 s"))
        << form->run_field->fullText();
    f.beam = 2;
    f.dwell_s = 0;
    form->setRunFields(f);
    EXPECT_TRUE(form->run_field->fullText().startsWith("Beam 2 · 0.0 / 5.0 s"));
    zarv::station::RunFields end;
    end.summary = QStringLiteral("Last run: 2 dwells");
    form->setRunFields(end);
    EXPECT_EQ(form->run_field->fullText(), "Last run: 2 dwells");
}

TEST_F(MainFormTest, AtTheWindowsSizeTheStatusFieldShowsWhatFitsAndNoMore) {
    auto form = makeForm();
    form->show();
    zarv::station::RunFields f;
    f.beam = 2;
    f.dwell_s = 4.1;
    f.dwell_length_s = 5;
    f.run_s = 3723;
    f.file_path = path("data/20261209081524_beam2.txt");
    f.records_per_s = 500;
    f.free_bytes = 123'400'000'000;
    f.hours_left = 456.7;
    form->setRunFields(f);
    form->setStatusText(QStringLiteral("Copying E, D and C into H, G and F"));
    QApplication::processEvents();
    for (const ElidingLabel* field : {form->status_field, form->run_field}) {
        EXPECT_LE(field->fontMetrics().horizontalAdvance(field->text()),
                  field->contentsRect().width());
        EXPECT_LE(field->mapTo(form.get(), QPoint(field->width(), 0)).x(), form->width());
        if (field->text() != field->fullText()) {
            EXPECT_TRUE(field->text().endsWith(QChar(0x2026))) << field->text();
        }
        EXPECT_EQ(field->toolTip(), field->fullText());
    }
    EXPECT_EQ(form->status_field->text().left(2), "Co");  // never cut to nothing
}

TEST_F(MainFormTest, EveryControlHasAName) {
    writeDefaultConfig();
    auto form = makeForm();
    TGraphForm graph(form->run().graph());
    TAboutForm about;
    TRadarForm radar(form->radarFeed(), form->station().config.run_config);
    const QList<QWidget*> controls{form->logpad,
                                   form->ProgressBar1,
                                   form->status_field,
                                   form->loss_field,
                                   form->ToolBar1->widgetForAction(form->start_btn),
                                   form->ToolBar1->widgetForAction(form->graph_btn),
                                   graph.points_box,
                                   graph.gate_box,
                                   graph.renew_btn,
                                   about.serial_no,
                                   about.hardware_rev,
                                   radar.beam_box,
                                   radar.gate_box,
                                   radar.points_box,
                                   radar.averages_box,
                                   radar.minutes_box,
                                   radar.moments_label,
                                   radar.rti,
                                   radar.spectrum,
                                   radar.snr_profile,
                                   radar.doppler_profile};
    const auto name = [](QWidget* w) {
        return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
    };
    for (QWidget* w : controls) EXPECT_FALSE(name(w).isEmpty()) << w->metaObject()->className();
    EXPECT_EQ(graph.points_label->buddy(), graph.points_box);
    EXPECT_EQ(graph.gate_label->buddy(), graph.gate_box);
    // A value is read with what it is, and read anew as it changes.
    EXPECT_EQ(name(about.serial_no), "Serial number serial_no");  // the design-time text
    zarv::about::AboutTexts texts;
    texts.serial_no = QStringLiteral("1001");
    texts.hardware_rev = QStringLiteral("B");
    about.showTexts(texts);
    EXPECT_EQ(name(about.serial_no), "Serial number 1001");
    EXPECT_EQ(name(about.hardware_rev), "Hardware revision B");
    form->setStatusText(QStringLiteral("FE 0"));
    EXPECT_EQ(name(form->status_field), "Status FE 0");
    form->resize(300, form->height());
    form->run_field->setFullText(QString(200, QLatin1Char('x')));
    EXPECT_EQ(name(form->run_field), "Run " + QString(200, QLatin1Char('x')));
    // A step too long for the status line: cut there, whole for the screen reader
    // and the tooltip, and Tab reaches both fields.
    form->setStatusText(QStringLiteral("Copying E, D and C into H, G and F"));
    EXPECT_EQ(name(form->status_field), "Status Copying E, D and C into H, G and F");
    EXPECT_EQ(form->status_field->toolTip(), "Copying E, D and C into H, G and F");
    for (const QWidget* field :
         {static_cast<QWidget*>(form->status_field), static_cast<QWidget*>(form->run_field)})
        EXPECT_TRUE(field->focusPolicy() & Qt::TabFocus);
    for (QWidget* window : {static_cast<QWidget*>(&graph), static_cast<QWidget*>(&radar)})
        EXPECT_EQ(QAccessible::queryAccessibleInterface(window)->role(), QAccessible::Window);
}

TEST_F(MainFormTest, GraphButtonPlacesOneWindow) {
    writeDefaultConfig();
    auto form = makeForm();
    TGraphForm graph(form->run().graph());
    TAboutForm about;
    form->setSecondaryWindows(&graph, &about);
    form->graph_btn->trigger();
    graph.move(500, 500);
    form->graph_btn->trigger();
    EXPECT_TRUE(graph.isVisible());
    EXPECT_EQ(graph.pos(), QPoint(150, 200));
    graph.close();
}

TEST_F(MainFormTest, StopWhileIdleOnlyClearsTriggering) {
    writeDefaultConfig();
    auto form = makeForm();
    LeaveTriggering(form->station().session);
    form->stop_btn->trigger();
    EXPECT_FALSE(form->station().session.triggering());
    EXPECT_EQ(form->logpad->toPlainText().split('\n').size(), 25);
}

TEST_F(MainFormTest, StartWithoutControllerKeepsTheLogAndTriggering) {
    writeDefaultConfig();
    sim->setDeviceCount(0);
    auto form = makeForm();
    form->start_btn->trigger();
    const QStringList lines = form->logpad->toPlainText().split('\n');
    ASSERT_EQ(lines.size(), 26);
    EXPECT_EQ(LastOf(lines).mid(19), "Zarv not found!");
    EXPECT_TRUE(form->station().session.triggering());
    EXPECT_TRUE(form->start_btn->isEnabled());
}

TEST_F(MainFormTest, StartWithBrokenConfigShowsErrorAndStaysReady) {
    writeDefaultConfig();
    auto form = makeForm();
    replaceConfigLine("gates", "gates=four");
    QSignalSpy ended(form.get(), &TMainForm::runEnded);
    form->start_btn->trigger();
    EXPECT_EQ(ended.count(), 1);  // a run refused at its start has ended all the same
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].endsWith(
        "|'four' is not a valid integer value.\n\nKey gates in " + path("config.txt")))
        << dialogs.errors[0].toStdString();
    EXPECT_TRUE(form->start_btn->isEnabled());
    EXPECT_FALSE((form->station().session.holder() == LinkHolder::Run));
}

TEST_F(MainFormTest, CloseDuringAHandlerWaitsForItToReturn) {
    writeDefaultConfig();
    auto form = makeForm();
    form->show();
    bool closed_inside = true;
    QString closing_said;
    replaceConfigLine("relay_swith_time", "relay_swith_time=300");
    replaceConfigLine("dwell_time", "dwell_time=0.3");
    // Close asked for during the relay wait, then Stop.
    ActWhen close([&] { return form->logpad->toPlainText().contains("Setting Relay"); },
                  [&] {
                      form->Close1->trigger();
                      closed_inside = !form->isVisible();
                      closing_said = form->statusBar()->currentMessage();
                      form->stop_btn->trigger();
                  },
                  [&] { form->stop_btn->trigger(); });
    form->start_btn->trigger();
    EXPECT_FALSE(closed_inside);
    EXPECT_EQ(closing_said, "The station closes when the run ends");
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(form->logpad->toPlainText().contains("Setting Relay to beam direction: 1"));
}

// A ten-megabyte value with a NUL in it: the box shows its start, escaped, and
// how long it was, and the window goes on.
TEST_F(MainFormTest, AHugeValueIsShownShortAndEscaped) {
    writeDefaultConfig();
    QString huge = QStringLiteral("4\t");
    huge += QChar(0);
    huge += QString(10'000'000, QLatin1Char('x'));
    replaceConfigLine("ipp", "ipp=" + huge);
    auto form = makeForm();
    ASSERT_EQ(dialogs.errors.size(), 1);
    const QString& box = dialogs.errors[0];
    EXPECT_LT(box.size(), 400);
    EXPECT_TRUE(box.contains("|'4\\x09\\x00xxx")) << box.toStdString();
    EXPECT_TRUE(
        box.contains("... (10000003 characters)' is not a valid integer value.\n\nKey "
                     "ipp in " +
                     path("config.txt")))
        << box.toStdString();
}

TEST_F(MainFormTest, TabLeavesTheOperatorLog) {
    auto form = makeForm();
    form->show();
    form->logpad->setFocus();
    const QString before = form->logpad->toPlainText();
    QTest::keyClick(form->logpad, Qt::Key_Tab);
    EXPECT_EQ(form->logpad->toPlainText(), before);  // no tab typed into it
    EXPECT_NE(QApplication::focusWidget(), form->logpad);
}

TEST_F(MainFormTest, TheFramingErrorCountSurvivesAMenuHint) {
    writeDefaultConfig();
    auto form = makeForm();
    form->setStatusText("FE 7");
    form->statusBar()->showMessage("Opens the About window");  // a menu hovered over
    form->statusBar()->clearMessage();
    EXPECT_EQ(form->status_field->text(), "FE 7");
    EXPECT_TRUE(form->status_field->isVisibleTo(form.get()));
}

TEST_F(MainFormTest, AGraphOfAMillionPointsRecordsEverythingAndDrawsLittle) {
    writeConfig(DefaultConfigText(path("data"))
                    .replace("ipp=1000", "ipp=100")
                    .replace("gates=4", "gates=36")
                    .replace("integrations=10", "integrations=1")
                    .replace("dwell_time=0.6", "dwell_time=1"));
    auto form = makeForm();
    TGraphForm graph(form->run().graph());
    TAboutForm about;
    form->setSecondaryWindows(&graph, &about);
    form->show();
    form->graph_btn->trigger();
    graph.points_box->setText("1000000");
    graph.gate_box->setText("36");
    graph.renew_btn->click();
    const auto stop = [&] { form->stop_btn->trigger(); };
    ActWhen dwell_over([&] { return sim->triggerStarts() >= 1 && !sim->programmed().triggering; },
                       stop, stop);
    form->start_btn->trigger();
    graph.refreshChart();
    const auto blocks = ReadDwellBlocks(path("data"));
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_FALSE(blocks[0].records.isEmpty());
    EXPECT_EQ(MismatchedRecords(blocks[0], 36, 1, 6000), 0);
    EXPECT_EQ(form->run().graph().graphCount(), blocks[0].records.size());
    EXPECT_LE(graph.ip_series->count(), 2 * GraphPlot::kColumns);
    // 1 s of a 100 s axis: a hundredth of the columns, and few enough to mark.
    EXPECT_LE(graph.ip_series->count(), 2 * GraphPlot::kColumns / 100 + 2);
    EXPECT_TRUE(graph.ip_series->pointsVisible());
    EXPECT_EQ(graph.axis_x->max(), 1000000 * 100 / 1000.0);  // the whole capture, in ms
    EXPECT_TRUE(graph.info_label->text().startsWith(
        QStringLiteral("Gate 36: %1 of 1000000 points captured, live")
            .arg(blocks[0].records.size())));
    graph.close();
}

TEST(ModalDialogsTest, EnterInTheConfirmationAnswersCancel) {
    QtModalDialogs dialogs;
    bool pressed = false;
    QTimer press;
    QObject::connect(&press, &QTimer::timeout, [&] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            QTest::keyClick(box, Qt::Key_Return);
            pressed = true;
            press.stop();
        }
    });
    press.start(10);
    QTimer guard;  // a box that never took the key would otherwise stay open
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (QWidget* box = QApplication::activeModalWidget()) box->close();
    });
    guard.start(5000);
    EXPECT_FALSE(dialogs.yesCancel(nullptr, "Zarv", "About to Update Firmware."));
    EXPECT_TRUE(pressed);
}
}  // namespace

TEST(AppIconTest, TheWindowIconIsTheDesktopEntrysSvgDrawnAtEverySize) {
    const QIcon icon = zarv::app::AppIcon();
    ASSERT_FALSE(icon.isNull());
    EXPECT_TRUE(icon.availableSizes().contains(QSize(16, 16)));
    EXPECT_TRUE(icon.availableSizes().contains(QSize(256, 256)));
    const QImage image = icon.pixmap(64, 64).toImage();
    EXPECT_EQ(image.pixelColor(32, 4), QColor(0x17, 0x32, 0x4d));  // the background plate
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);                  // outside its round corner
}
