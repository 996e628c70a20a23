#pragma once

#include <QDir>
#include <memory>

#include "app/main_form.h"
#include "scripted_dialogs.h"
#include "station/delay.h"
#include "station_fixture.h"

using namespace zarv::app;

// Builds the main window with the given directory as the current one.
class MainFormTest : public StationFixture {
  protected:
    void SetUp() override {
        StationFixture::SetUp();
        old_dir = QDir::currentPath();
        QDir::setCurrent(dir.path());
    }
    void TearDown() override { QDir::setCurrent(old_dir); }
    // The flows' fixed waits (the relay, the five seconds after a copy) pass in at
    // most 50 ms.
    std::unique_ptr<TMainForm> makeForm() {
        auto form = std::make_unique<TMainForm>(*sim, &dialogs);
        form->setDelay([](int ms) { DelayMs(std::min(ms, 50)); });
        form->station().config.free_space = AmpleSpace;
        return form;
    }

    QString old_dir;
    ScriptedDialogs dialogs;
};
