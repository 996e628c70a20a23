#pragma once

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>
#include <QUrl>
#include <memory>

#include "acquisition/acquisition_run.h"
#include "echo_watch.h"
#include "eliding_label.h"
#include "firmware/firmware_verify.h"
#include "firmware/flash_update.h"
#include "modal_dialogs.h"
#include "monitoring/station_watch.h"
#include "radar/radar_feed.h"
#include "station/operator.h"
#include "station/station.h"

class QAction;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QToolBar;
class QMenuBar;

namespace zarv::views {
class TGraphForm;
class TAboutForm;
}  // namespace zarv::views

namespace zarv::app {

using acquisition::AcquisitionRun;
using device_io::FtApi;
using firmware::FirmwareUpdate;
using firmware::FirmwareVerify;
using station::Operator;
using station::OperatorLog;
using station::Station;
using views::TAboutForm;
using views::TGraphForm;

// The operator's console: toolbar, menu, operator log and status bar. It shows
// and forwards; the flows do the work.
class TMainForm : public QMainWindow, public Operator {
    Q_OBJECT
  public:
    // keep_daily_log false: started where nobody chose to keep a station, so
    // nothing is written there.
    explicit TMainForm(FtApi& api, ModalDialogs* dialogs = nullptr, OperatorLog::Clock clock = {},
                       bool keep_daily_log = true);
    ~TMainForm() override;

    void setSecondaryWindows(TGraphForm* graph, TAboutForm* about);
    void setRadarWindow(QWidget* radar) { radar_form_ = radar; }
    void setWindsWindow(QWidget* winds) { winds_form_ = winds; }
    radar::RadarFeed& radarFeed() { return radar_feed_; }
    // How the flows' fixed waits pass; tests shorten them.
    void setDelay(std::function<void(int)> delay) { delay_ = std::move(delay); }
    // How Settings opens config.txt; false when no application took it.
    QString dailyLogPath() const { return station_.log.dailyLogPath(); }
    void setDocumentOpener(std::function<bool(const QUrl&)> opener) {
        open_document_ = std::move(opener);
    }
    // Serves the station's state on listen, or on config.txt's status_listen
    // when listen is empty; where it serves, or why not, goes to the daily log.
    void serveStatus(const QString& listen);
    const monitoring::StationWatch& watch() const { return watch_; }
    // The radar view's picture for the status page, while a server serves it.
    void showPicture(const QImage& picture);
    Station& station() { return station_; }
    AcquisitionRun& run() { return run_; }

    // Command handlers.
    void start_btnClick();
    void stop_btnClick();
    void settings_btnClick();
    void graph_btnClick();
    void radar_btnClick();
    void Winds1Click();
    void About1Click();
    void FirmwareUpgrade1Click();
    void VerifyFirmware1Click();
    void Close1Click();
    // A request to end from outside (a signal, the end of the desktop session):
    // a run is stopped as Stop does, an update runs to its end, then the program
    // ends.
    void endFromOutside(const QString& reason);

    // Operator
    void appendLogLine(const QString& line) override;
    void clearLog() override;
    void appendKeptLine(const QString& line) override;
    void showMessage(const QString& text) override;
    void showError(const QString& text) override;
    bool askYesCancel(const QString& text) override;
    QString chooseFile(const QString& filter) override;
    // While the program ends, what a box would say goes to the kept log.
    void keepInsteadOfBox(const QString& text);
    void setProgressMaximum(int maximum) override;
    int progressMinimum() const override;
    int progressMaximum() const override;
    void setProgressPosition(int position) override;
    void stepProgress() override;
    void setStatusText(const QString& text) override;
    void setLossText(const QString& text) override;
    void setStartEnabled(bool enabled) override;
    void setRunFields(const station::RunFields& fields) override;
    void pumpEvents() override;
    void waitMs(int ms) override;

    QToolBar* ToolBar1 = nullptr;
    QAction* start_btn = nullptr;
    QAction* stop_btn = nullptr;
    QAction* settings_btn = nullptr;
    QAction* graph_btn = nullptr;
    QAction* radar_btn = nullptr;  // also in the View menu
    QAction* Winds1 = nullptr;     // View menu
    QProgressBar* ProgressBar1 = nullptr;
    QPlainTextEdit* logpad = nullptr;
    QMenuBar* MainMenu1 = nullptr;
    QAction* Close1 = nullptr;
    QAction* About1 = nullptr;
    QAction* FirmwareUpgrade1 = nullptr;
    QAction* VerifyFirmware1 = nullptr;
    ElidingLabel* status_field = nullptr;
    QLabel* loss_field = nullptr;
    // How the run goes: beam and times, the data file, the rates, the free space.
    ElidingLabel* run_field = nullptr;
    QLabel* file_field = nullptr;
    QLabel* rate_field = nullptr;
    QLabel* disk_field = nullptr;

    // How often the run's fields may change at most (500 ms; tests stretch it).
    void setFieldsInterval(int ms) { fields_every_ms_ = ms; }

  protected:
    void closeEvent(QCloseEvent* event) override;

  signals:
    // Start's run has ended, however it ended: the live winds close their period.
    void runEnded();

  private:
    void FormCreate(bool keep_daily_log);
    void buildToolBar();
    void buildMenu();
    template <typename Handler>
    void runHandler(Handler handler);

    std::unique_ptr<ModalDialogs> own_dialogs_;
    ModalDialogs* dialogs_;
    int fields_every_ms_ = 500;
    QElapsedTimer fields_shown_;  // when the run's fields last changed
    int fields_beam_ = 0;
    monitoring::StationWatch watch_;  // sees what the station shows, for the status server
    Station station_;
    radar::RadarFeed radar_feed_;  // outlives the run that feeds it
    AcquisitionRun run_;
    FirmwareUpdate firmware_;
    FirmwareVerify verify_;
    TGraphForm* graph_form_ = nullptr;
    TAboutForm* about_form_ = nullptr;
    QWidget* radar_form_ = nullptr;
    QWidget* winds_form_ = nullptr;
    std::function<void(int)> delay_;
    std::function<bool(const QUrl&)> open_document_ = &QDesktopServices::openUrl;
    int handlers_running_ = 0;
    bool close_pending_ = false;
    bool ending_ = false;              // a signal or the session's end: no box opens any more
    QTimer* trigger_probe_ = nullptr;  // looks for a controller left triggering
    std::unique_ptr<EchoWatch> echo_;  // while the status server serves
};

}  // namespace zarv::app
