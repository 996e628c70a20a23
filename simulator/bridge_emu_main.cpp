// zarv-bridge-emu: presents an FTDI bridge with the simulated controller behind
// it on an emulated USB bus, and runs a command against it, so that the station
// built for hardware (zarv) runs every flow through libusb and libftdi1.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QString>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "emulated_usb.h"
#include "ftdi_chip.h"
#include "sim_controller.h"
#include "sim_waveform.h"

using namespace zarv::sim;

namespace {
volatile sig_atomic_t g_child = 0;

void forwardSignal(int signal_number) {
    if (g_child > 0) kill(static_cast<pid_t>(g_child), signal_number);
}

struct Options {
    std::uint32_t buffer = 4096;
    QString flash;
    QString trace;
    bool second_bridge = false;
    bool busy = false;
    std::vector<char*> command;
};

void usage(std::FILE* to) {
    std::fputs(
        "Usage: zarv-bridge-emu [options] -- COMMAND [ARGS...]\n"
        "Runs COMMAND with an emulated FTDI bridge (0403:6014) attached, the simulated\n"
        "radar controller behind it.\n\n"
        "  --buffer BYTES   the bridge's receive buffer (default 4096)\n"
        "  --flash FILE     keep the controller's flash in FILE (default: $ZARV_SIM_FLASH)\n"
        "  --trace FILE     append every frame the controller receives to FILE\n"
        "  --second-bridge  also attach a bridge that is not the controller\n"
        "  --busy           the controller's bridge is held by another program\n"
        "  --help           show this text\n\n"
        "ZARV_SIM_FAULTS (unplug-at, replug-at, silent-at, stall-at, stall-for; seconds\n"
        "from the first StartTrigger) causes faults as zarv-sim does; unplug and replug\n"
        "pull the emulated bridge off the bus and plug it in again.\n",
        to);
}

bool parse(int argc, char** argv, Options& o) {
    o.flash = qEnvironmentVariable("ZARV_SIM_FLASH");
    o.trace = qEnvironmentVariable("ZARV_SIM_TRACE");
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--") {
            o.command.assign(argv + i + 1, argv + argc);
            break;
        } else if (a == "--buffer" && has_value) {
            o.buffer = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (a == "--flash" && has_value) {
            o.flash = QString::fromLocal8Bit(argv[++i]);
        } else if (a == "--trace" && has_value) {
            o.trace = QString::fromLocal8Bit(argv[++i]);
        } else if (a == "--second-bridge") {
            o.second_bridge = true;
        } else if (a == "--busy") {
            o.busy = true;
        } else {
            return false;
        }
    }
    return !o.command.empty();
}

// Pulls the bridge and plugs it in again at the plan's times, counted from the
// first StartTrigger, until stop is set.
void pullAndReplug(const SimFaultPlan& plan, SimController& controller, EmulatedUsb& usb,
                   FtdiChip& chip, int port, const std::atomic<bool>& stop) {
    bool pulled = false;
    while (!stop.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        const auto first = controller.firstTriggerAt();
        if (!first) continue;
        const double since =
            std::chrono::duration<double>(SimController::Clock::now() - *first).count();
        if (!pulled && plan.unplug_at && since >= *plan.unplug_at) {
            std::fprintf(stderr, "zarv-bridge-emu: bridge pulled (unplug-at=%g)\n",
                         *plan.unplug_at);
            usb.unplug(port);
            pulled = true;
            if (!plan.replug_at) return;
        }
        if (pulled && plan.replug_at && since >= *plan.replug_at) {
            usb.plug(chip);
            std::fprintf(stderr, "zarv-bridge-emu: bridge plugged in again (replug-at=%g)\n",
                         *plan.replug_at);
            return;
        }
    }
}

int runChild(std::vector<char*> command) {
    // After what is preloaded already: a sanitizer's runtime must stay first.
    const char* found = std::getenv("LD_PRELOAD");
    const std::string old = found ? found : "";
    std::string preload = "libumockdev-preload.so.0";
    if (!old.empty()) preload = old + ":" + preload;
    setenv("LD_PRELOAD", preload.c_str(), 1);
    command.push_back(nullptr);
    const pid_t child = fork();
    if (child < 0) return 127;
    if (child == 0) {
        execvp(command[0], command.data());
        std::fprintf(stderr, "zarv-bridge-emu: cannot run %s: %s\n", command[0],
                     std::strerror(errno));
        _exit(127);
    }
    if (!old.empty())
        setenv("LD_PRELOAD", old.c_str(), 1);
    else
        unsetenv("LD_PRELOAD");
    g_child = child;
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, forwardSignal);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
        usage(stdout);
        return 0;
    }
    if (!parse(argc, argv, o)) {
        usage(stderr);
        return 2;
    }
    SimController controller(o.flash, o.trace);
    controller.setNoise(SimNoiseFromEnvironment());
    controller.setBridgeBufferSize(o.buffer);
    // While the pump is late, the transfers the station keeps queued take the
    // stream: 32 of 64 KiB.
    controller.setDriverBufferSize(32 * 64 * 1024);
    const SimFaultPlan plan = SimFaultPlan::FromEnvironment();
    controller.setFaultPlan(plan, false);
    FtdiChip chip(&controller);
    EmulatedUsb usb;
    const int port = usb.plug(chip, o.busy);
    std::unique_ptr<FtdiChip> other;
    if (o.second_bridge) {
        other = std::make_unique<FtdiChip>(nullptr, QStringLiteral("FT4ZQ7B1"),
                                           QStringLiteral("USB <-> Serial Converter"));
        usb.plug(*other);
    }
    std::fprintf(stderr, "zarv-bridge-emu: bridge %s [%s] at %s\n",
                 chip.description().toLocal8Bit().constData(),
                 chip.serial().toLocal8Bit().constData(), usb.devnode(1).toLocal8Bit().constData());
    std::atomic<bool> child_done{false};
    std::thread plugger;
    if (plan.unplug_at)
        plugger =
            std::thread([&] { pullAndReplug(plan, controller, usb, chip, port, child_done); });
    const int status = runChild(o.command);
    child_done.store(true);
    if (plugger.joinable()) plugger.join();
    std::fprintf(stderr, "zarv-bridge-emu: %llu stream bytes overran the bridge's receive buffer\n",
                 static_cast<unsigned long long>(controller.overrunBytes()));
    if (controller.overrunBytes() > 0)
        std::fprintf(stderr, "zarv-bridge-emu: holes %s\n", controller.overrunCauses().c_str());
    return status;
}
