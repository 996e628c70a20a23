#pragma once

#include <QString>

namespace zarv::station {
class ControllerSession;
class OperatorLog;
}  // namespace zarv::station

namespace zarv::firmware {

struct HexImage;

// Help > Verify Firmware: reads the main sectors H, G and F and the code start
// and compares them with a chosen image; says which match. Writes nothing.
class FirmwareVerify {
  public:
    FirmwareVerify(station::OperatorLog& log, station::ControllerSession& session);
    void run();
    // The comparison itself, on an image read and checked; the report, or why
    // the controller could not be read.
    QString compare(const HexImage& image, bool* all_match);

  private:
    QString sectorVerdict(const HexImage& image, char sector, bool* match);
    QString codeStartVerdict(const HexImage& image, bool* match);

    station::OperatorLog& log_;
    station::ControllerSession& session_;
};

}  // namespace zarv::firmware
