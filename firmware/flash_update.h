#pragma once

#include <QString>
#include <cstdint>

namespace zarv::station {
class ControllerSession;
class Operator;
class OperatorLog;
class StationConfig;
}  // namespace zarv::station

namespace zarv::firmware {

struct StagingRow;

using station::ControllerSession;
using station::Operator;
using station::OperatorLog;
using station::StationConfig;

// Help > Firmware Upgrade: stages the image's sectors H, G and F in the spare
// sectors E, D and C, reads them back and compares them, checks the code start,
// and only then has the controller copy the staged image into its main sectors.
class FirmwareUpdate {
  public:
    FirmwareUpdate(OperatorLog& log, ControllerSession& session, const StationConfig& config);

    static inline const QString kFilter = QStringLiteral("Firmware image (*.hex)|*.hex");

    // Help > Firmware Upgrade: asks for the image and the go-ahead, then updates.
    void run();
    void UpdateFirmware(const QString& image_path);

    void EraseFlashSector(const QString& sector);
    void ProgramSectorFile(const QString& target, const QString& source, const QString& file);
    // False when the sector could not be read whole; the file is then removed.
    bool ReadBackSector(const QString& sector, const QString& file);
    bool CompareSectorFiles(std::uint32_t image_base, std::uint32_t read_base,
                            const QString& image_file, const QString& read_file);
    bool VerifyCodeStart();

  private:
    bool refusedWhileTriggering();
    QString describeImage(const QString& path);
    QString confirmation(const QString& path, const QString& covered) const;
    void copyToMainFrame();
    bool stageRow(const StagingRow& row);
    bool stageFile(const StagingRow& row, const QString& image_file);
    bool keepMainSector(const StagingRow& row);
    void checkImageFilesFit();
    QString inStartDir(const char* name) const;
    bool programBlock(const QString& target, const std::uint16_t* words, int count, int offset);

    OperatorLog& log_;
    Operator& op_;
    ControllerSession& session_;
    const StationConfig& config_;
};

}  // namespace zarv::firmware
