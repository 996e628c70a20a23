#pragma once

#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zarv::station {
struct TRunConfig;
}  // namespace zarv::station

namespace zarv::acquisition {

using station::TRunConfig;

// One beam dwell's data file: 21 header lines, then one record line per completed
// integration. Lines end in CR LF. Records are collected in memory and reach the
// file at every flush (once per chunk) in a single write of whole lines, and the
// disk at most a second later. A failed write cuts the file back to its last
// whole line, so no torn record is ever left behind.
class DataFile {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kSyncInterval{1000};

    DataFile() = default;
    ~DataFile();
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;

    // Appends when the file exists, else creates it. Throws StationError.
    void open(const QString& path);
    void writeHeader(const TRunConfig& config, const QString& stamp, int beam);
    bool isOpen() const { return fd_ >= 0; }
    const QString& path() const { return path_; }

    // A whole record line: every value and its blank, one blank more, CR LF.
    void appendRecord(const int* values, int count);

    // Writes what has been collected and syncs when the last sync is a second old;
    // throws StationError on an I/O error.
    void flush();
    // Syncs written records when the last sync is a second old.
    void syncIfDue();
    // Flushes, syncs and closes; throws StationError when that fails.
    void close();
    // Closes without reporting; for clean-up after another error.
    void abandon() noexcept;

    // Bytes of whole lines on disk, as far as this file knows.
    std::int64_t size() const { return size_; }
    // Record lines this open has put in the file, cut-back ones not counted.
    std::int64_t records() const { return records_; }
    // Bytes this writer has put on disk over all its files; read from any thread.
    std::int64_t bytesWritten() const { return written_.load(std::memory_order_relaxed); }

    // How written data reaches the disk (fdatasync unless given) and the clock
    // that says when a sync is due: a test sees every sync and sets the time.
    void setSyncCall(std::function<int(int fd)> call) { sync_call_ = std::move(call); }
    void setClock(std::function<Clock::time_point()> now) { now_ = std::move(now); }

  private:
    [[noreturn]] void fail(const char* what, int error);
    [[noreturn]] void cutBackAndFail(std::size_t done, int error);
    void sync();
    int syncData() const;

    int fd_ = -1;
    QString path_;
    void append(const char* text, std::size_t length);
    char* room(std::size_t length);  // at the end of what is pending

    std::vector<char> pending_;  // grows, never shrinks: no allocation per chunk
    std::size_t used_ = 0;
    std::int64_t pending_records_ = 0;
    std::int64_t records_ = 0;
    std::int64_t size_ = 0;
    std::atomic<std::int64_t> written_{0};
    bool unsynced_ = false;
    std::function<int(int)> sync_call_;
    std::function<Clock::time_point()> now_ = [] { return Clock::now(); };
    Clock::time_point last_sync_{};
};

}  // namespace zarv::acquisition
