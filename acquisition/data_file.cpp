#include "data_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "app/run_config.h"
#include "app/station_error.h"

namespace {
// A new file's name survives a power cut only once its directory is synced.
void syncDirectoryOf(const QString& path) {
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}
}  // namespace

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
    const QByteArray name = QFile::encodeName(path);
    const bool existed = ::access(name.constData(), F_OK) == 0;
    fd_ = ::open(name.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) fail("open", errno);
    struct stat info {};
    size_ = ::fstat(fd_, &info) == 0 ? info.st_size : 0;
    last_sync_ = Clock::now();
    unsynced_ = false;
    if (!existed) syncDirectoryOf(path);
}

void DataFile::appendValue(int value) {
    char text[16];
    const auto result = std::to_chars(text, text + sizeof text - 1, value);
    *result.ptr = ' ';
    pending_.append(text, static_cast<std::size_t>(result.ptr + 1 - text));
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
    if (fd_ < 0) {
        pending_.clear();
        return;
    }
    std::size_t done = 0;
    while (done < pending_.size()) {
        const ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        const int error = n < 0 ? errno : ENOSPC;
        // Keep the whole lines that made it; cut the torn one off.
        const std::size_t whole = pending_.rfind('\n', done == 0 ? 0 : done - 1);
        const std::int64_t keep =
            size_ + (done == 0 || whole == std::string::npos ? 0 : std::int64_t(whole) + 1);
        if (::ftruncate(fd_, keep) == 0) {
            size_ = keep;
            ::fdatasync(fd_);
        }
        fail("write", error);
    }
    size_ += static_cast<std::int64_t>(pending_.size());
    if (!pending_.empty()) unsynced_ = true;
    pending_.clear();
    // Writing on into a file whose directory was removed would lose every record
    // without an error.
    struct stat info {};
    if (::fstat(fd_, &info) == 0 && info.st_nlink == 0) {
        abandon();
        throw StationError(QStringLiteral("Data file %1 has been removed").arg(path_));
    }
    syncIfDue();
}

void DataFile::sync() {
    if (::fdatasync(fd_) != 0) fail("write", errno);
    unsynced_ = false;
    last_sync_ = Clock::now();
}

void DataFile::syncIfDue() {
    if (fd_ >= 0 && unsynced_ && Clock::now() - last_sync_ >= kSyncInterval) sync();
}

void DataFile::close() {
    if (fd_ < 0) return;
    flush();
    if (unsynced_) sync();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        const int error = errno;
        throw StationError(QStringLiteral("Cannot close data file %1: %2")
                               .arg(path_, QString::fromLocal8Bit(std::strerror(error))));
    }
}

void DataFile::abandon() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    pending_.clear();
}
