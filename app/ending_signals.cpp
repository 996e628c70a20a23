#include "ending_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

namespace zarv::app {

namespace {
int pipe_fds[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

void onSignal(int number) {
    const int saved = errno;
    const auto byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t n = ::write(pipe_fds[1], &byte, 1);
    errno = saved;
}
}  // namespace

EndingSignals::EndingSignals(QObject* parent) : QObject(parent) {
    if (::pipe2(pipe_fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    notifier_ = new QSocketNotifier(pipe_fds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &EndingSignals::readPipe);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : kSignals) sigaction(number, &action, nullptr);
}

EndingSignals::~EndingSignals() {
    for (const int number : kSignals) std::signal(number, SIG_DFL);
    delete notifier_;
    for (int& fd : pipe_fds) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

void EndingSignals::readPipe() {
    char byte = 0;
    while (::read(pipe_fds[0], &byte, 1) == 1) emit received(byte);
}

}  // namespace zarv::app
