#pragma once

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <functional>

// Polls a condition on the GUI thread while a flow runs its own event loop, and
// acts once when it holds. Past the bound the test fails and give_up ends what
// the test waits for, so a regression fails instead of hanging.
class ActWhen {
  public:
    ActWhen(std::function<bool()> condition, std::function<void()> action,
            std::function<void()> give_up = {}, int bound_ms = 10000)
        : condition_(std::move(condition)),
          action_(std::move(action)),
          give_up_(std::move(give_up)),
          bound_ms_(bound_ms) {
        since_.start();
        QObject::connect(&poll_, &QTimer::timeout, [this] { look(); });
        poll_.start(2);
    }
    ActWhen(const ActWhen&) = delete;
    ActWhen& operator=(const ActWhen&) = delete;

    bool acted() const { return acted_; }

  private:
    void look() {
        if (condition_()) {
            poll_.stop();
            acted_ = true;
            action_();
        } else if (since_.elapsed() > bound_ms_) {
            poll_.stop();
            ADD_FAILURE() << "the awaited condition did not hold within " << bound_ms_ << " ms";
            if (give_up_) give_up_();
        }
    }

    std::function<bool()> condition_;
    std::function<void()> action_;
    std::function<void()> give_up_;
    int bound_ms_;
    QElapsedTimer since_;
    QTimer poll_;
    bool acted_ = false;
};

// Holds the calling thread, events and all, until condition holds. False past
// the bound, which only ends a hung test.
inline bool HoldUntil(const std::function<bool()>& condition, int bound_ms = 60000) {
    QElapsedTimer since;
    since.start();
    while (!condition()) {
        if (since.elapsed() > bound_ms) return false;
        QThread::msleep(1);
    }
    return true;
}

// Runs an event loop of its own, as a modal box does, until condition holds.
// False past the bound.
inline bool LoopUntil(const std::function<bool()>& condition, int bound_ms = 60000) {
    QElapsedTimer since;
    since.start();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition() || since.elapsed() > bound_ms) loop.quit();
    });
    poll.start(2);
    loop.exec();
    return condition();
}
