#pragma once

#include <cstdint>

// Priority of the whole process: 1 idle, 2 normal, 3 high, 4 real-time, any other
// code no change. Mapped onto nice values; a raise the system refuses is silent.
void SetProcessPriority(std::uint8_t code);
