#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>

#include "acquisition/acquisition_run.h"
#include "device_IO/ftdi_libftdi.h"
#include "simulator/emulated_usb.h"
#include "simulator/ftdi_chip.h"
#include "simulator/sim_controller.h"
#include "station/station.h"
#include "tests/recorder_operator.h"
#include "tests/station_fixture.h"

using namespace zarv::acquisition;
using namespace zarv::device_io;
using namespace zarv::sim;
using namespace zarv::station;

inline bool UnderUmockdevPreload() {
    const char* preload = std::getenv("LD_PRELOAD");
    return preload && std::string(preload).find("libumockdev-preload") != std::string::npos;
}

// The station built for hardware (libftdi1 and libusb, unchanged) against an
// emulated FTDI bridge with the simulated controller behind it.
class BridgeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(UnderUmockdevPreload())
            << "the emulated bridge needs libumockdev-preload: run through CTest or "
               "umockdev-wrapper";
        ASSERT_TRUE(dir.isValid());
        controller = std::make_unique<SimController>(path("flash.bin"));
        chip = std::make_unique<FtdiChip>(controller.get());
        usb = std::make_unique<EmulatedUsb>();
        port = usb->plug(*chip);
        station = std::make_unique<Station>(op, api);
        station->config.free_space = AmpleSpace;
        station->config.start_dir = dir.path();
        writeConfig(DefaultConfigText(path("data")));
    }

    QString path(const QString& name) const { return dir.path() + '/' + name; }
    void writeConfig(const QString& text) const {
        QFile f(path("config.txt"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text.toUtf8());
    }
    FtdiChip& otherChip(SimController* behind, const QString& serial, const QString& description) {
        other_chips.push_back(std::make_unique<FtdiChip>(behind, serial, description));
        return *other_chips.back();
    }
    // Pumps events until the condition holds; false after the bound.
    static bool waitFor(const std::function<bool()>& condition, int bound_ms = 5000) {
        QElapsedTimer t;
        t.start();
        while (!condition()) {
            if (t.elapsed() > bound_ms) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    // Runs Start; presses Stop once the condition holds, or after the bound.
    void startAndStopWhen(AcquisitionRun& run, const std::function<bool()>& condition,
                          int bound_ms = 20000) {
        QElapsedTimer t;
        t.start();
        QTimer poll;
        poll.setInterval(5);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (condition() || t.elapsed() > bound_ms) {
                run.stop();
                poll.stop();
            }
        });
        poll.start();
        run.start();
        EXPECT_LT(t.elapsed(), bound_ms) << "the stop condition never held";
    }

    QTemporaryDir dir;
    std::unique_ptr<SimController> controller;
    std::unique_ptr<FtdiChip> chip;
    std::vector<std::unique_ptr<FtdiChip>> other_chips;  // must outlive the bus
    std::unique_ptr<EmulatedUsb> usb;
    int port = 0;
    LibFtdiApi api;
    RecorderOperator op;
    std::unique_ptr<Station> station;
};
