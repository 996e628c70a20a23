#include "data_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "station/run_config.h"
#include "station/station_error.h"
#include "station/sync_directory.h"

namespace zarv::acquisition {

using namespace zarv::station;

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
    used_ = 0;
    pending_records_ = 0;
    records_ = 0;
    const QByteArray name = QFile::encodeName(path);
    const bool existed = ::access(name.constData(), F_OK) == 0;
    fd_ = ::open(name.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) fail("open", errno);
    struct stat info {};
    size_ = ::fstat(fd_, &info) == 0 ? info.st_size : 0;
    last_sync_ = now_();
    unsynced_ = false;
    if (!existed) SyncDirectoryOf(path);
}

char* DataFile::room(std::size_t length) {
    if (used_ + length > pending_.size())
        pending_.resize(std::max(2 * pending_.size(), used_ + length));
    return pending_.data() + used_;
}

void DataFile::append(const char* text, std::size_t length) {
    std::memcpy(room(length), text, length);
    used_ += length;
}

namespace {
// Every 16-bit value's text and its blank, looked up rather than formatted: the
// records of the heaviest stream are 72 values a frame.
struct ValueText {
    char text[7];
    std::uint8_t length;
};
const ValueText* ValueTexts() {
    static const std::vector<ValueText> table = [] {
        std::vector<ValueText> t(65536);
        for (int v = -32768; v <= 32767; ++v) {
            ValueText& e = t[static_cast<std::uint16_t>(v)];
            char* end = std::to_chars(e.text, e.text + 6, v).ptr;
            *end++ = ' ';
            e.length = static_cast<std::uint8_t>(end - e.text);
        }
        return t;
    }();
    return table.data();
}
}  // namespace

void DataFile::appendRecord(const int* values, int count) {
    static const ValueText* const texts = ValueTexts();
    // At most 11 characters and a blank per value, then " \r\n"; 8 bytes are
    // copied per looked-up value.
    char* const start = room(12 * static_cast<std::size_t>(count) + 8);
    char* p = start;
    for (int i = 0; i < count; ++i) {
        const int v = values[i];
        if (v >= -32768 && v <= 32767) {
            const ValueText& e = texts[static_cast<std::uint16_t>(v)];
            std::memcpy(p, &e, 8);
            p += e.length;
        } else {
            p = std::to_chars(p, p + 11, v).ptr;
            *p++ = ' ';
        }
    }
    *p++ = ' ';
    *p++ = '\r';
    *p++ = '\n';
    used_ += static_cast<std::size_t>(p - start);
    ++pending_records_;
}

void DataFile::writeHeader(const TRunConfig& c, const QString& stamp, int beam) {
    const auto line = [this](const char* label, const QString& value) {
        const QByteArray bytes = value.toLocal8Bit();
        append(label, std::strlen(label));
        append(bytes.constData(), static_cast<std::size_t>(bytes.size()));
        append("\r\n", 2);
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
        used_ = 0;
        pending_records_ = 0;
        return;
    }
    std::size_t done = 0;
    while (done < used_) {
        const ssize_t n = ::write(fd_, pending_.data() + done, used_ - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        cutBackAndFail(done, n < 0 ? errno : ENOSPC);
    }
    size_ += static_cast<std::int64_t>(used_);
    records_ += pending_records_;
    pending_records_ = 0;
    written_.fetch_add(static_cast<std::int64_t>(used_), std::memory_order_relaxed);
    if (used_ > 0) unsynced_ = true;
    used_ = 0;
    // Writing on into a file whose directory was removed would lose every record
    // without an error.
    struct stat info {};
    if (::fstat(fd_, &info) == 0 && info.st_nlink == 0) {
        abandon();
        throw StationError(QStringLiteral("Data file %1 has been removed").arg(path_));
    }
    syncIfDue();
}

// Keeps the whole lines of a write that stopped after done bytes; cuts the torn
// one off.
void DataFile::cutBackAndFail(std::size_t done, int error) {
    std::int64_t keep = size_;
    std::size_t whole = 0;
    for (std::size_t i = done; i > 0; --i) {
        if (pending_[i - 1] == '\n') {
            whole = i;
            break;
        }
    }
    keep += static_cast<std::int64_t>(whole);
    // The record lines among the whole ones kept: pending records are the last
    // lines of what was pending.
    const auto lines = std::count(pending_.data(), pending_.data() + used_, '\n');
    const auto kept_lines = std::count(pending_.data(), pending_.data() + whole, '\n');
    const std::int64_t kept_records =
        std::max<std::int64_t>(0, pending_records_ - (lines - kept_lines));
    pending_records_ = 0;
    if (::ftruncate(fd_, keep) == 0) {
        size_ = keep;
        records_ += kept_records;
        written_.fetch_add(static_cast<std::int64_t>(whole), std::memory_order_relaxed);
        syncData();
    }
    fail("write", error);
}

void DataFile::sync() {
    // EINVAL: a special file such as /dev/null, which has no disk to reach.
    if (syncData() != 0 && errno != EINVAL) fail("write", errno);
    unsynced_ = false;
    last_sync_ = now_();
}

int DataFile::syncData() const {
    return sync_call_ ? sync_call_(fd_) : ::fdatasync(fd_);
}

void DataFile::syncIfDue() {
    if (fd_ >= 0 && unsynced_ && now_() - last_sync_ >= kSyncInterval) sync();
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
    used_ = 0;
}

}  // namespace zarv::acquisition
