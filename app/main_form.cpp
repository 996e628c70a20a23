#include "main_form.h"

#include <QBuffer>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QProxyStyle>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include "acquisition/run_figures.h"
#include "eliding_label.h"
#include "station/delay.h"
#include "station/process_priority.h"
#include "station/station_error.h"
#include "toolbar_icons.h"
#include "views/about_form.h"
#include "views/accessible_values.h"
#include "views/graph_form.h"

namespace zarv::app {

namespace {
constexpr int kTriggerProbeMs = 2000;
}  // namespace

using namespace zarv::device_io;
using namespace zarv::station;
using namespace zarv::views;

TMainForm::TMainForm(FtApi& api, ModalDialogs* dialogs, OperatorLog::Clock clock,
                     bool keep_daily_log)
    : own_dialogs_(dialogs ? nullptr : std::make_unique<QtModalDialogs>()),
      dialogs_(dialogs ? dialogs : own_dialogs_.get()),
      watch_(*this),
      station_(watch_.op(), api, std::move(clock)),
      run_(station_.log, station_.session, station_.config),
      firmware_(station_.log, station_.session, station_.config),
      verify_(station_.log, station_.session) {
    run_.setRecordSink(&radar_feed_);
    watch_.watchRun(run_, station_.session);
    // A run that lost the link may have left the controller triggering: once it
    // is attached again, its trigger is stopped before anything else.
    trigger_probe_ = new QTimer(this);
    connect(trigger_probe_, &QTimer::timeout, this, [this] {
        if (handlers_running_ == 0) station_.session.stopTriggerIfBack();
    });
    trigger_probe_->start(kTriggerProbeMs);
    setWindowTitle(QStringLiteral("Zarv"));
    resize(718, 719);
    move(184, 35);
    buildToolBar();
    buildMenu();
    logpad = new QPlainTextEdit(this);
    logpad->setObjectName(QStringLiteral("logpad"));
    logpad->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    logpad->setTabChangesFocus(true);  // Tab moves on, as in every other control
    logpad->setAccessibleName(QStringLiteral("Operator log"));
    setCentralWidget(logpad);
    statusBar()->setObjectName(QStringLiteral("StatusBar1"));
    statusBar()->setFixedHeight(19);
    // Permanent fields: a menu hint passing over the bar does not erase them.
    status_field = new ElidingLabel(this);
    status_field->setObjectName(QStringLiteral("status_field"));
    NameValueLabel(status_field, QStringLiteral("Status"));
    statusBar()->addWidget(status_field, 1);
    loss_field = new QLabel(this);
    loss_field->setObjectName(QStringLiteral("loss_field"));
    NameValueLabel(loss_field, QStringLiteral("Data lost"));
    loss_field->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold"));
    statusBar()->addPermanentWidget(loss_field);
    const auto field = [this](const char* name, const char* accessible) {
        auto* label = new QLabel(this);
        label->setObjectName(QLatin1String(name));
        NameValueLabel(label, QLatin1String(accessible));
        statusBar()->addPermanentWidget(label);
        return label;
    };
    run_field = new ElidingLabel(this);
    run_field->setObjectName(QStringLiteral("run_field"));
    NameValueLabel(run_field, QStringLiteral("Run"));
    // What the status line has no room for, Tab reaches: a screen reader then
    // reads the whole text, and the tooltip shows it.
    for (ElidingLabel* cut : {status_field, run_field}) cut->setFocusPolicy(Qt::TabFocus);
    // The framing error count always shows whole; longer steps may be cut.
    status_field->setMinimumWidth(status_field->fontMetrics().horizontalAdvance("FE 99999") + 6);
    statusBar()->addPermanentWidget(run_field, 1);
    file_field = field("file_field", "Data file");
    rate_field = field("rate_field", "Recording rate");
    disk_field = field("disk_field", "Free space");
    // The status fields come just before the log: Tab from the log goes on to
    // the toolbar, Shift+Tab from it back to the fields.
    QWidget::setTabOrder(status_field, run_field);
    QWidget::setTabOrder(run_field, logpad);
    FormCreate(keep_daily_log);
}

TMainForm::~TMainForm() = default;

namespace {
// Buttons and separators sit edge to edge from the toolbar's left, as the
// console's layout gives them: no frame, margin or spacing of the style's.
class EdgeToEdgeToolBarStyle : public QProxyStyle {
  public:
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        switch (metric) {
            case PM_ToolBarFrameWidth:
            case PM_ToolBarItemMargin:
            case PM_ToolBarItemSpacing:
                return 0;
            default:
                return QProxyStyle::pixelMetric(metric, option, widget);
        }
    }
};
}  // namespace

void TMainForm::buildToolBar() {
    ToolBar1 = addToolBar(QStringLiteral("ToolBar1"));
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    auto* style = new EdgeToEdgeToolBarStyle;
    style->setParent(ToolBar1);
    ToolBar1->setStyle(style);
    ToolBar1->setContentsMargins(0, 4, 0, 4);  // 46-px buttons in a 54-px bar
    ToolBar1->setMovable(false);
    ToolBar1->setIconSize(QSize(40, 40));
    const auto button = [this](int image, const QString& tip, void (TMainForm::*handler)(),
                               const QList<QKeySequence>& keys) {
        QAction* action = ToolBar1->addAction(ToolbarIcon(image), tip);
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        // The hint names the keys: "Stop (Shift+F5, Ctrl+.)".
        QStringList names;
        for (const QKeySequence& key : keys) names << key.toString(QKeySequence::NativeText);
        action->setToolTip(names.isEmpty() ? tip
                                           : tip + QStringLiteral(" (%1)").arg(names.join(", ")));
        QWidget* widget = ToolBar1->widgetForAction(action);
        widget->setFixedSize(47, 46);
        widget->setAccessibleName(tip);
        widget->setFocusPolicy(Qt::TabFocus);  // reached by Tab from the log and back
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    const auto separator = [this](int width) {
        auto* gap = new QWidget(ToolBar1);
        gap->setFixedWidth(width);
        ToolBar1->addWidget(gap);
    };
    start_btn = button(2, QStringLiteral("Start"), &TMainForm::start_btnClick, {Qt::Key_F5});
    stop_btn =
        button(0, QStringLiteral("Stop"), &TMainForm::stop_btnClick,
               {QKeySequence(Qt::SHIFT | Qt::Key_F5), QKeySequence(Qt::CTRL | Qt::Key_Period)});
    separator(35);
    settings_btn = button(1, QStringLiteral("Settings"), &TMainForm::settings_btnClick,
                          {QKeySequence(Qt::CTRL | Qt::Key_Comma)});
    separator(41);
    graph_btn = button(3, QStringLiteral("Graph"), &TMainForm::graph_btnClick,
                       {QKeySequence(Qt::CTRL | Qt::Key_G)});
    separator(41);
    ProgressBar1 = new QProgressBar(ToolBar1);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setFixedSize(336, 46);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setAccessibleName(QStringLiteral("Dwell progress"));
    ToolBar1->addWidget(ProgressBar1);
    radar_btn = button(4, QStringLiteral("Radar View"), &TMainForm::radar_btnClick,
                       {QKeySequence(Qt::CTRL | Qt::Key_R)});
}

void TMainForm::buildMenu() {
    MainMenu1 = menuBar();
    // Mnemonics: Alt+F, Alt+E, Alt+H open the menus.
    QMenu* file = MainMenu1->addMenu(QStringLiteral("&File"));
    Close1 = file->addAction(QStringLiteral("&Close"), this, &TMainForm::Close1Click);
    Close1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    QMenu* edit = MainMenu1->addMenu(QStringLiteral("&Edit"));
    edit->addAction(settings_btn);  // config.txt in the text editor
    QMenu* view = MainMenu1->addMenu(QStringLiteral("&View"));
    view->addAction(radar_btn);
    Winds1 = view->addAction(QStringLiteral("&Winds"), this, &TMainForm::Winds1Click);
    Winds1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    QMenu* help = MainMenu1->addMenu(QStringLiteral("&Help"));
    About1 = help->addAction(QStringLiteral("&About"), this, &TMainForm::About1Click);
    FirmwareUpgrade1 = help->addAction(QStringLiteral("&Firmware Upgrade"), this,
                                       &TMainForm::FirmwareUpgrade1Click);
    VerifyFirmware1 =
        help->addAction(QStringLiteral("&Verify Firmware"), this, &TMainForm::VerifyFirmware1Click);
}

void TMainForm::setSecondaryWindows(TGraphForm* graph, TAboutForm* about) {
    graph_form_ = graph;
    about_form_ = about;
}

void TMainForm::FormCreate(bool keep_daily_log) {
    station_.config.start_dir = QDir::currentPath();
    if (keep_daily_log) station_.log.keepDailyLog(station_.config.start_dir);
    try {
        station_.config.ReadConfig();
    } catch (const StationError& error) {
        showError(error.boxText());
        return;  // the window keeps its design position and normal priority
    }
    run_.graph().startCapturing();
    move(100, 50);
    SetProcessPriority(3);
}

void TMainForm::serveStatus(const QString& listen) {
    const TRunConfig& settings = station_.config.run_config;
    watch_.setNoteTaker([this](const QString& note) { station_.log.KeepNote(note); });
    if (const QString note =
            watch_.serveAsAsked(listen, settings.status_listen, settings.status_token_file);
        !note.isEmpty())
        station_.log.KeepNote(note);
    if (watch_.serving()) echo_ = std::make_unique<EchoWatch>(radar_feed_, settings, watch_);
}

void TMainForm::showPicture(const QImage& picture) {
    if (!watch_.serving()) return;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    watch_.showPicture(png);
}

// Errors that escape a handler end it with an error box; a close asked for while
// any handler runs takes effect once the last one has returned.
template <typename Handler>
void TMainForm::runHandler(Handler handler) {
    ++handlers_running_;
    try {
        handler();
    } catch (const StationError& error) {
        showError(error.boxText());
    } catch (const std::exception& error) {
        showError(QString::fromLocal8Bit(error.what()) + QStringLiteral("."));
    }
    --handlers_running_;
    if (handlers_running_ == 0 && close_pending_) close();
}

void TMainForm::start_btnClick() {
    if (!start_btn->isEnabled()) return;
    runHandler([this] { run_.start(); });
    emit runEnded();
}

void TMainForm::stop_btnClick() {
    runHandler([this] { run_.stop(); });
}

void TMainForm::settings_btnClick() {
    runHandler([this] {
        const QString path = station_.config.configPath();
        if (!open_document_(QUrl::fromLocalFile(path)))
            station_.log.LogMessage(
                QStringLiteral("No application opens %1; edit it with any text editor").arg(path));
    });
}

void TMainForm::graph_btnClick() {
    runHandler([this] {
        if (!graph_form_) return;
        graph_form_->show();
        graph_form_->move(150, 200);
        graph_form_->raise();
    });
}

void TMainForm::radar_btnClick() {
    if (!radar_form_) return;
    radar_form_->show();
    radar_form_->raise();
}

void TMainForm::Winds1Click() {
    if (!winds_form_) return;
    winds_form_->show();
    winds_form_->raise();
}

void TMainForm::About1Click() {
    runHandler([this] {
        if (about_form_) about_form_->showIdentity(station_.session);
    });
}

void TMainForm::FirmwareUpgrade1Click() {
    runHandler([this] { firmware_.run(); });
}

void TMainForm::VerifyFirmware1Click() {
    runHandler([this] { verify_.run(); });
}

void TMainForm::Close1Click() {
    close();
}

// Boxes are closed the safe way (a question Cancel) and none opens any more;
// a run is stopped, an update that has begun is finished, and the program ends.
void TMainForm::endFromOutside(const QString& reason) {
    ending_ = true;
    station_.log.LogMessage(reason);
    CloseOpenDialogs();
    if (station_.session.holder() == LinkHolder::Run) run_.stop();
    close();  // once the handlers still running have returned
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (handlers_running_ > 0) {
        close_pending_ = true;
        statusBar()->showMessage(station_.session.holder() == LinkHolder::Update
                                     ? QStringLiteral("The station closes when the update ends")
                                     : QStringLiteral("The station closes when the run ends"));
        event->ignore();
        return;
    }
    event->accept();
    station_.session.stopTriggerIfBack();
    if (graph_form_) graph_form_->close();
    if (about_form_) about_form_->close();
    QCoreApplication::quit();
}

void TMainForm::appendLogLine(const QString& line) {
    logpad->appendPlainText(line);
}
// The window shows no kept-only line: the daily log, which the log writes, has it.
void TMainForm::appendKeptLine(const QString&) {}
void TMainForm::keepInsteadOfBox(const QString& text) {
    station_.log.KeepNote(text);
}
void TMainForm::clearLog() {
    logpad->clear();
}
void TMainForm::showMessage(const QString& text) {
    if (ending_) return keepInsteadOfBox(QStringLiteral("Message: ") + text);
    dialogs_->message(this, text);
}
void TMainForm::showError(const QString& text) {
    if (ending_) return keepInsteadOfBox(QStringLiteral("Error: ") + text);
    dialogs_->error(this, QGuiApplication::applicationDisplayName(), text);
}
bool TMainForm::askYesCancel(const QString& text) {
    if (ending_) {
        keepInsteadOfBox(QStringLiteral("Question answered Cancel: ") + text);
        return false;
    }
    return dialogs_->yesCancel(this, QGuiApplication::applicationDisplayName(), text);
}
QString TMainForm::chooseFile(const QString& filter) {
    if (ending_) return QString();
    return dialogs_->openFile(this, filter, station_.config.start_dir);
}
void TMainForm::setProgressMaximum(int maximum) {
    ProgressBar1->setMaximum(maximum);
}
int TMainForm::progressMinimum() const {
    return ProgressBar1->minimum();
}
int TMainForm::progressMaximum() const {
    return ProgressBar1->maximum();
}
void TMainForm::setProgressPosition(int position) {
    ProgressBar1->setValue(position);
}
void TMainForm::stepProgress() {
    // Past the maximum the bar starts over, as a stepping progress bar does.
    const int next = ProgressBar1->value() + 1;
    ProgressBar1->setValue(next > ProgressBar1->maximum() ? ProgressBar1->minimum() : next);
}
void TMainForm::setStatusText(const QString& text) {
    status_field->setFullText(text);
}
void TMainForm::setLossText(const QString& text) {
    loss_field->setText(text);
}
void TMainForm::setStartEnabled(bool enabled) {
    start_btn->setEnabled(enabled);
}
void TMainForm::setRunFields(const station::RunFields& f) {
    // Twice a second is as often as anyone reads them, eye or screen reader; a
    // new beam or the summary shows at once.
    if (f.summary.isEmpty() && f.beam == fields_beam_ && fields_shown_.isValid() &&
        fields_shown_.elapsed() < fields_every_ms_)
        return;
    fields_beam_ = f.summary.isEmpty() ? f.beam : 0;
    fields_shown_.start();
    if (!f.summary.isEmpty()) {
        run_field->setFullText(f.summary);
        rate_field->clear();
    } else {
        run_field->setFullText(QStringLiteral("Beam %1 · %2 / %3 s · %4")
                                   .arg(f.beam)
                                   .arg(f.dwell_s, 0, 'f', 1)
                                   .arg(f.dwell_length_s, 0, 'f', 1)
                                   .arg(acquisition::FormatDuration(f.run_s)));
        rate_field->setText(QStringLiteral("%1 rec/s · %2 MB/s")
                                .arg(f.records_per_s, 0, 'f', 0)
                                .arg(f.megabytes_per_s, 0, 'f', 2));
    }
    file_field->setText(QFileInfo(f.file_path).fileName());
    file_field->setToolTip(f.file_path);
    if (f.free_bytes < 0) {
        disk_field->clear();
        return;
    }
    QString disk =
        QStringLiteral("%1 GB free").arg(static_cast<double>(f.free_bytes) / 1e9, 0, 'f', 1);
    if (f.hours_left >= 0) disk += QStringLiteral(" · %1 h").arg(f.hours_left, 0, 'f', 1);
    if (!f.disk_warning.isEmpty()) disk += QStringLiteral(" · ") + f.disk_warning;
    disk_field->setStyleSheet(f.disk_warning.isEmpty() ? QString()
                                                       : QStringLiteral("color: #b00000"));
    disk_field->setText(disk);
}

void TMainForm::pumpEvents() {
    QCoreApplication::processEvents();
}
void TMainForm::waitMs(int ms) {
    if (delay_)
        delay_(ms);
    else
        DelayMs(ms);
}

}  // namespace zarv::app
