// Ending signals (SIGTERM, SIGINT) reach the main window: a run is stopped as
// Stop does, an open box is closed the safe way, an update that has begun is
// finished, and the program ends.
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QTimer>
#include <csignal>

#include "act_when.h"
#include "app/ending_signals.h"
#include "app/modal_dialogs.h"
#include "data_file_checker.h"
#include "hex_builder.h"
#include "main_form_fixture.h"

namespace {

TEST_F(MainFormTest, SigtermDuringADwellStopsTheTriggerKeepsTheFileWholeAndEnds) {
    writeConfig(DefaultConfigText(path("data"))
                    .replace("ipp=1000", "ipp=200")
                    .replace("dwell_time=0.6", "dwell_time=5"));
    auto form = makeForm();
    form->show();
    EndingSignals ending;
    QObject::connect(&ending, &EndingSignals::received, form.get(), [&](int number) {
        form->endFromOutside(QStringLiteral("Signal %1").arg(number));
    });
    // The signal comes once records are on disk; a run it never reached is
    // stopped after 10 s and the test fails.
    bool sent = false;
    QElapsedTimer since;
    since.start();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const QStringList files = DataFilesUnder(path("data"));
        if (!sent && !files.isEmpty() && readFile(files[0]).count('\n') > 21 + 160) {
            sent = true;
            ::kill(::getpid(), SIGTERM);
        } else if (!sent && since.elapsed() > 10000) {
            form->stop_btn->trigger();
        }
    });
    poll.start(5);
    form->start_btn->trigger();
    ASSERT_TRUE(sent);
    EXPECT_FALSE(form->isVisible());  // the program ends once the run has
    EXPECT_TRUE(form->logpad->toPlainText().contains(QStringLiteral("Signal %1").arg(SIGTERM)));
    const auto frames = sim->writtenFrames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back()[1], 0x03);  // the last frame on the wire: StopTrigger
    EXPECT_EQ(frames.back()[2], 0x00);
    EXPECT_FALSE(sim->programmed().triggering);
    const QStringList files = DataFilesUnder(path("data"));
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(readFile(files[0]).endsWith(" \r\n"));
    const auto blocks = ReadDwellBlocks(path("data"));
    EXPECT_GT(blocks[0].records.size(), 150);
    EXPECT_EQ(MismatchedRecords(blocks[0], 4, 10, 12000), 0);
}

// A signal while a question is open answers it Cancel and ends the program;
// nothing the question would have let happen is sent.
class SignalWithABoxOpen : public MainFormTest {
  protected:
    void endWhenTheBoxOpens(TMainForm& form, const std::function<void()>& act) {
        form.show();
        EndingSignals ending;
        QObject::connect(&ending, &EndingSignals::received, &form, [&](int number) {
            form.endFromOutside(QStringLiteral("Signal %1").arg(number));
        });
        dialogs.real_questions = true;
        ActWhen box([] { return QApplication::activeModalWidget() != nullptr; },
                    [] { ::kill(::getpid(), SIGTERM); }, [] { CloseOpenDialogs(); });
        // The signal must close the box; a box left open fails the test.
        ActWhen closed([&] { return box.acted() && !QApplication::activeModalWidget(); }, [] {},
                       [] { CloseOpenDialogs(); }, 5000);
        act();
        EXPECT_TRUE(box.acted());
        EXPECT_FALSE(form.isVisible());
        EXPECT_TRUE(form.logpad->toPlainText().contains(QStringLiteral("Signal %1").arg(SIGTERM)));
    }
};

TEST_F(SignalWithABoxOpen, TheFirmwareConfirmationIsCancelledAndNothingIsFlashed) {
    writeDefaultConfig();
    QStringList lines = HexWords(0x003E8000, std::vector<std::uint16_t>(64, 0x1234));
    lines << HexWords(0x003F7FF6, {0x0041, 0x9000}) << HexEnd();
    writeFile("image.hex", (lines.join("\r\n") + "\r\n").toLatin1());
    const auto before = sim->flashSector('E');
    auto form = makeForm();
    dialogs.files.enqueue(path("image.hex"));
    endWhenTheBoxOpens(*form, [&] { form->FirmwareUpgrade1->trigger(); });
    EXPECT_TRUE(OnlyTriggerStops(sim->writtenFrames()));
    EXPECT_EQ(sim->flashSector('E'), before);
    EXPECT_FALSE(form->logpad->toPlainText().contains("Firmware updated"));
}

TEST_F(SignalWithABoxOpen, TheLowSpaceQuestionIsCancelledAndNothingIsSent) {
    writeDefaultConfig();
    auto form = makeForm();
    form->station().config.free_space = [](const QString&) { return qint64{1000}; };
    endWhenTheBoxOpens(*form, [&] { form->start_btn->trigger(); });
    EXPECT_TRUE(form->logpad->toPlainText().contains("Start cancelled"));
    EXPECT_TRUE(sim->writtenFrames().empty());
    EXPECT_EQ(sim->triggerStarts(), 0);
}

TEST_F(MainFormTest, SigintDuringAFirmwareUpdateLetsItFinishThenEnds) {
    writeDefaultConfig();
    QStringList lines = HexWords(0x003E8000, std::vector<std::uint16_t>(64, 0x1234));
    lines << HexWords(0x003F7FF6, {0x0041, 0x9000}) << HexEnd();
    writeFile("image.hex", (lines.join("\r\n") + "\r\n").toLatin1());
    auto form = makeForm();
    form->show();
    EndingSignals ending;
    QObject::connect(&ending, &EndingSignals::received, form.get(), [&](int number) {
        form->endFromOutside(QStringLiteral("Signal %1").arg(number));
    });
    dialogs.files.enqueue(path("image.hex"));
    dialogs.answers.enqueue(true);
    bool sent = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (!sent && form->logpad->toPlainText().contains("Writing")) {
            sent = true;
            ::kill(::getpid(), SIGINT);
        }
    });
    poll.start(1);
    form->FirmwareUpgrade1->trigger();
    ASSERT_TRUE(sent);
    const QString log = form->logpad->toPlainText();
    EXPECT_TRUE(log.contains(QStringLiteral("Signal %1").arg(SIGINT)));
    EXPECT_TRUE(log.contains("Firmware updated... Please power cycle and restart"));
    ASSERT_FALSE(sim->flashSector('H').empty());
    EXPECT_EQ(sim->flashSector('H')[0], 0x1234);  // copied into the main sector
    EXPECT_FALSE(form->isVisible());              // and then the program ended
}

// A window run without recovery that loses the link leaves the controller
// triggering; once the bridge is back, its trigger is stopped before anything
// else, whether the station notices by itself or is ending on a signal.
class TriggerLeftOnTest : public MainFormTest {
  protected:
    std::unique_ptr<TMainForm> runUntilUnplugged() {
        writeConfig(DefaultConfigText(path("data")).replace("dwell_time=0.6", "dwell_time=5"));
        auto form = makeForm();
        form->show();
        ActWhen unplug([&] { return !DataFilesUnder(path("data")).isEmpty(); },
                       [&] { sim->unplugNow(); }, [&] { form->stop_btn->trigger(); });
        form->start_btn->trigger();  // returns once the run has ended on the lost link
        EXPECT_TRUE(unplug.acted());
        EXPECT_TRUE(sim->programmed().triggering);  // nothing could stop it
        opens_before = sim->firstFramesAfterOpens().size();
        return form;
    }
    void expectStoppedFirst() {
        EXPECT_FALSE(sim->programmed().triggering);
        const auto firsts = sim->firstFramesAfterOpens();
        ASSERT_GT(firsts.size(), opens_before);
        EXPECT_TRUE(IsStopTrigger(firsts.back()));
    }
    std::size_t opens_before = 0;
};

TEST_F(TriggerLeftOnTest, TheWindowStopsItOnceTheBridgeIsBack) {
    auto form = runUntilUnplugged();
    sim->plugIn();
    QEventLoop loop;
    ActWhen stopped([&] { return !sim->programmed().triggering; }, [&] { loop.quit(); },
                    [&] { loop.quit(); }, 15000);
    loop.exec();
    expectStoppedFirst();
    EXPECT_TRUE(
        form->logpad->toPlainText().contains("The controller is back: its trigger is stopped"));
}

TEST_F(TriggerLeftOnTest, ASignalStopsItBeforeTheProgramEnds) {
    auto form = runUntilUnplugged();
    sim->plugIn();
    form->endFromOutside(QStringLiteral("Signal %1").arg(SIGTERM));
    EXPECT_FALSE(form->isVisible());
    expectStoppedFirst();
}
}  // namespace
