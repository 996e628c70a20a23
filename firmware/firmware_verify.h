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
// The log line of a verify: "Verify main.hex: Sector H matches. ...".
QString VerifyLine(const QString& path, const QString& report);

class FirmwareVerify {
  public:
    enum class Verdict { Matches, Differs, Unread };
    struct Outcome {
        Verdict verdict = Verdict::Unread;
        QString report;  // a line per sector and for the code start, or why none could be read
    };

    FirmwareVerify(station::OperatorLog& log, station::ControllerSession& session);
    void run();
    // The comparison itself, on an image read and checked, with the link open.
    Outcome compare(const HexImage& image);

  private:
    QString sectorVerdict(const HexImage& image, char sector, bool* match);
    QString codeStartVerdict(const HexImage& image, bool* match, bool* unread);

    station::OperatorLog& log_;
    station::ControllerSession& session_;
};

}  // namespace zarv::firmware
