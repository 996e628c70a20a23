#include "process_priority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

namespace zarv::station {

void SetProcessPriority(std::uint8_t code) {
    int nice_value = 0;
    switch (code) {
        case 1:
            nice_value = 19;
            break;
        case 2:
            nice_value = 0;
            break;
        case 3:
            nice_value = -10;
            break;
        case 4:
            nice_value = -20;
            break;
        default:
            return;
    }
    // Threads started later inherit it; a refused raise leaves the priority as it was.
    (void)setpriority(PRIO_PROCESS, 0, nice_value);
}

void RaiseThreadToRealTime() {
    sched_param param{};
    param.sched_priority =
        10;  // above no kernel thread that matters, below the audio of most desktops
    (void)pthread_setschedparam(pthread_self(), SCHED_RR, &param);
}

}  // namespace zarv::station
