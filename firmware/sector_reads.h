#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace zarv::device_io {
class ControllerCommands;
}

namespace zarv::firmware {

// Reads a sector until two reads in a row agree, at most reads times; nothing
// when a read fails or no two agree. *disagreements counts the reads that
// differed from the one before.
std::optional<std::vector<std::uint16_t>> ReadUntilTwoAgree(device_io::ControllerCommands& commands,
                                                            const QString& sector, int reads = 5,
                                                            int* disagreements = nullptr);

}  // namespace zarv::firmware
