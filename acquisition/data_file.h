#pragma once

#include <QString>
#include <cstdio>
#include <string>

struct TRunConfig;

// One beam dwell's data file: 21 header lines, then one record line per completed
// integration. Lines end in CR LF. Records are collected in memory and reach the
// file at every flush, which the stream processing does once per chunk.
class DataFile {
  public:
    DataFile() = default;
    ~DataFile();
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;

    // Appends when the file exists, else creates it. Throws StationError.
    void open(const QString& path);
    void writeHeader(const TRunConfig& config, const QString& stamp, int beam);
    bool isOpen() const { return file_ != nullptr; }
    const QString& path() const { return path_; }

    void appendValue(int value) {
        char* p = scratch_;
        unsigned magnitude =
            value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
        char digits[12];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        if (value < 0) *p++ = '-';
        while (n > 0) *p++ = digits[--n];
        *p++ = ' ';
        pending_.append(scratch_, static_cast<std::size_t>(p - scratch_));
    }
    void endRecord() { pending_.append(" \r\n", 3); }

    // Writes what has been collected; throws StationError on an I/O error.
    void flush();
    // Flushes and closes; throws StationError when the last write fails.
    void close();
    // Closes without reporting; for clean-up after another error.
    void abandon() noexcept;

  private:
    [[noreturn]] void fail(const char* what, int error);

    std::FILE* file_ = nullptr;
    QString path_;
    std::string pending_;
    char scratch_[16];
};
