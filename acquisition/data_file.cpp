#include "data_file.h"

#include <sys/stat.h>

#include <QFile>
#include <cerrno>
#include <cstring>

#include "app/run_config.h"
#include "app/station_error.h"

DataFile::~DataFile() {
    abandon();
}

void DataFile::fail(const char* what, int error) {
    const QString text =
        QStringLiteral("Cannot %1 data file %2: %3")
            .arg(QString::fromLatin1(what), path_, QString::fromLocal8Bit(std::strerror(error)));
    abandon();
    throw StationError(text);
}

void DataFile::open(const QString& path) {
    abandon();
    path_ = path;
    pending_.clear();
    file_ = std::fopen(QFile::encodeName(path).constData(), "ab");
    if (!file_) fail("open", errno);
}

void DataFile::writeHeader(const TRunConfig& c, const QString& stamp, int beam) {
    const auto line = [this](const char* label, const QString& value) {
        pending_ += label;
        pending_ += value.toLocal8Bit().toStdString();
        pending_ += "\r\n";
    };
    const auto num = [](std::int32_t v) { return QString::number(v); };
    line("File Path = ", path_);
    line("Time Stamp = ", stamp);
    line("IPP = ", num(c.ipp));
    line("Resolution = ", num(c.resolution));
    line("Pulse length = ", num(c.pulse_length));
    line("Start time = ", num(c.start_time));
    line("Gates = ", num(c.gates));
    line("Integrations = ", num(c.integrations));
    line("Beam Direction = ", num(beam));
    line("Dwell time = ", FormatGeneral(c.dwell_time));
    line("Tx enable = ", num(c.tx_enable));
    line("LO gate length = ", num(c.lo_gate_length));
    line("Audio enable = ", num(c.audio_enable));
    line("DAC CH0 = ", num(c.dac_channel0));
    line("DAC CH1 = ", num(c.dac_channel1));
    line("Reference Level = ", num(c.reference_level));
    line("Ip Level = ", num(c.ip_level));
    line("Qp Level = ", num(c.qp_level));
    line("Test Level = ", num(c.test_level));
    line("Test Gate Length = ", num(c.test_gate_length));
    line("Test Gate Delay = ", num(c.test_gate_delay));
    flush();
}

void DataFile::flush() {
    if (!file_) {
        pending_.clear();
        return;
    }
    if (!pending_.empty()) {
        const std::size_t written = std::fwrite(pending_.data(), 1, pending_.size(), file_);
        if (written != pending_.size()) fail("write", errno ? errno : EIO);
        pending_.clear();
    }
    if (std::fflush(file_) != 0) fail("write", errno);
    // Writing on into a file whose directory was removed would lose every record
    // without an error.
    struct stat info {};
    if (fstat(fileno(file_), &info) == 0 && info.st_nlink == 0) {
        abandon();
        throw StationError(QStringLiteral("Data file %1 has been removed").arg(path_));
    }
}

void DataFile::close() {
    if (!file_) return;
    flush();
    std::FILE* f = file_;
    file_ = nullptr;
    if (std::fclose(f) != 0) {
        file_ = nullptr;
        const int error = errno;
        throw StationError(QStringLiteral("Cannot close data file %1: %2")
                               .arg(path_, QString::fromLocal8Bit(std::strerror(error))));
    }
}

void DataFile::abandon() noexcept {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    pending_.clear();
}
