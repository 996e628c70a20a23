#include "about_query.h"

#include "station/controller_session.h"

namespace zarv::about {

using namespace zarv::device_io;
using namespace zarv::station;

QString RevisionText(std::uint32_t word) {
    return QStringLiteral("%1.%2").arg(word >> 16).arg(word & 0xFFFF);
}

std::optional<AboutTexts> QueryAbout(ControllerSession& session) {
    // While a run or an update holds the link the controller is open already, and
    // reopening it under a running reader would pull the link away from it.
    if (session.linkBusy()) return std::nullopt;
    if (!session.ensureOpen()) return std::nullopt;
    if (session.triggering()) return std::nullopt;  // the link carries the stream
    InfoWords words{};
    if (!session.commands().ReadControllerInfo(words)) return std::nullopt;
    return AboutTexts{QString::number(words[1]), QStringLiteral("1.0"), RevisionText(words[2]),
                      RevisionText(words[3])};
}

}  // namespace zarv::about
