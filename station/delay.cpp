#include "delay.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

namespace zarv::station {

std::uint32_t SystemTickMs() {
    static QElapsedTimer since_start = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return static_cast<std::uint32_t>(since_start.elapsed());
}

void DelayMs(int ms, const TickSource& tick) {
    const std::uint32_t start = tick();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    while (true) {
        const std::uint32_t elapsed = tick() - start;  // modulo 2^32
        if (ms <= 0 || elapsed >= static_cast<std::uint32_t>(ms)) return;
        QEventLoop loop;
        QTimer::singleShot(static_cast<int>(static_cast<std::uint32_t>(ms) - elapsed),
                           Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
}

void EventWaiter::waitUntil(const std::function<bool()>& condition) {
    while (!condition()) {
        QEventLoop loop;
        QEventLoop* outer = loop_;
        loop_ = &loop;
        QTimer::singleShot(safety_net_ms_, &loop, &QEventLoop::quit);
        loop.exec();
        loop_ = outer;
    }
}

void EventWaiter::wake() {
    if (loop_) loop_->quit();
}

}  // namespace zarv::station
