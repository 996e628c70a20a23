#pragma once

#include <gtest/gtest.h>

#include <QElapsedTimer>
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
