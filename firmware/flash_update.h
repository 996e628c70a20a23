#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "device_IO/controller_commands.h"
#include "hex_image.h"

namespace zarv::station {
class ControllerSession;
class Operator;
class OperatorLog;
class StationConfig;
}  // namespace zarv::station

namespace zarv::firmware {

struct StagingRow;
struct UpdateStopped;
class GatheredBoxes;

using station::ControllerSession;
using station::Operator;
using station::OperatorLog;
using station::StationConfig;
using SectorContent = std::vector<std::uint16_t>;  // 8192 words

// Help > Firmware Upgrade: stages the image's sectors H, G and F in the spare
// sectors E, D and C (a sector the image does not carry keeps the controller's
// content, read until two reads agree), reads them back and compares them, has
// the controller copy them into its main sectors, reads those back, and writes
// the code start only once they match. Whatever fails, the main sectors and the
// code start hold either the old firmware or the whole verified image, and the
// operator is told which in one message.
class FirmwareUpdate {
  public:
    FirmwareUpdate(OperatorLog& log, ControllerSession& session, const StationConfig& config);
    ~FirmwareUpdate();

    static inline const QString kFilter = QStringLiteral("Firmware image (*.hex)|*.hex");

    // Help > Firmware Upgrade: asks for the image, checks it whole, asks for the
    // go-ahead, then updates.
    void run();
    // The sequence on an image read and checked already; throws StationError
    // when a sector file cannot be written or read.
    void UpdateFirmware(const HexImage& image);
    void UpdateFirmware(const QString& image_path);

    // The steps; each throws UpdateStopped when the controller cannot carry it out.
    void EraseFlashSector(const QString& sector);
    void ProgramSectorFile(const QString& target, const QString& source, const QString& file);
    void ReadBackSector(const QString& sector, const QString& file);
    bool CompareSectorFiles(std::uint32_t image_base, std::uint32_t read_base,
                            const QString& image_file, const QString& read_file);
    // Writes the image's code start and reads it back; true when it matches.
    bool VerifyCodeStart();

  private:
    bool refusedWhileTriggering();
    void logImage(const QString& path, const HexImage& image);
    QString confirmation(const QString& path, const HexImage& image) const;
    void runSequence();
    bool stageRow(const StagingRow& row);
    bool stageFile(const StagingRow& row, const QString& image_file);
    bool keepMainSector(const StagingRow& row);
    bool programBlock(const QString& target, const std::uint16_t* words, int count, int offset);

    // After the staging has verified: the copy, its check, the code start.
    void copyAndVerify();
    bool sendCopy(QString* refusal);
    std::array<SectorContent, 3> readMainSectors();
    QString describeMain(const std::array<SectorContent, 3>& now) const;
    bool partlyNew(const std::array<SectorContent, 3>& main) const;
    QString copyState(const std::array<SectorContent, 3>& now, const QString& refusal) const;
    void tellCopyFailed(const std::array<SectorContent, 3>& now, const QString& refusal,
                        bool last_copy);
    void finishWithCodeStart();
    // The two words the image gives the code start, in the block written.
    device_io::CodeStartBlock codeStartBlock() const;
    // The code start read back until it reads as block, at most a few times.
    void readCodeStart(const device_io::CodeStartBlock& block);
    QString describeCodeStart(const device_io::CodeStartBlock& block) const;

    // Reading a sector until two reads agree.
    SectorContent readAgreeing(const QString& sector);
    SectorContent readSector(const QString& sector);

    void setStep(const QString& doing, const QString& sector);
    void advance(int units = 1);
    [[noreturn]] void stop(const QString& why);
    void tellStopped(const UpdateStopped& stopped);
    QString inStartDir(const char* name) const;

    OperatorLog& log_;
    Operator& op_;
    ControllerSession& session_;
    const StationConfig& config_;

    // One update's state.
    const HexImage* image_ = nullptr;
    std::unique_ptr<GatheredBoxes> boxes_;
    std::array<SectorContent, 3> staged_;  // what H, G and F are to hold
    std::array<SectorContent, 3> before_;  // what they held before the copy
    bool copy_sent_ = false;
    // The ten words around the code start as last read, if they could be.
    std::optional<device_io::CodeStartWords> code_start_read_;
    int row_ = 0;
    QString step_;
    int done_ = 0;
};

}  // namespace zarv::firmware
