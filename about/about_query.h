#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace zarv::station {
class ControllerSession;
}  // namespace zarv::station

namespace zarv::about {

using station::ControllerSession;

// What the About window shows after a successful query.
struct AboutTexts {
    QString serial_no;
    QString application_rev;
    QString firmware_rev;
    QString hardware_rev;
};

QString RevisionText(std::uint32_t word);

// Opens the controller if needed and reads its identity, unless a run or an
// update holds the link. Nothing when there is nothing new to show.
std::optional<AboutTexts> QueryAbout(ControllerSession& session);

}  // namespace zarv::about
