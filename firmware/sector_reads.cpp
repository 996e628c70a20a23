#include "sector_reads.h"

#include "device_IO/controller_commands.h"

namespace zarv::firmware {

std::optional<std::vector<std::uint16_t>> ReadUntilTwoAgree(device_io::ControllerCommands& commands,
                                                            const QString& sector, int reads,
                                                            int* disagreements) {
    device_io::SectorWords last;
    if (!commands.ReadSector(sector, last)) return std::nullopt;
    for (int done = 1; done < reads; ++done) {
        device_io::SectorWords next;
        if (!commands.ReadSector(sector, next)) return std::nullopt;
        if (next == last) return next;
        if (disagreements) ++*disagreements;
        last = std::move(next);
    }
    return std::nullopt;
}

}  // namespace zarv::firmware
