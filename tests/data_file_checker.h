#pragma once

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <vector>

#include "acquisition/stream_decoder.h"
#include "simulator/sim_waveform.h"

using namespace zarv::acquisition;
using namespace zarv::sim;

// One header and the record lines after it, as read back from a data file.
struct DwellBlock {
    QString file;
    QStringList header;
    QStringList records;
    int beam = 0;
};

inline QStringList DataFilesUnder(const QString& root) {
    QStringList files;
    QDirIterator it(root, {"*_beam*.txt"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) files << it.next();
    std::sort(files.begin(), files.end());
    return files;
}

inline std::vector<DwellBlock> ReadDwellBlocks(const QString& root) {
    std::vector<DwellBlock> blocks;
    for (const QString& path : DataFilesUnder(root)) {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        QStringList lines = QString::fromLatin1(f.readAll()).split("\r\n");
        lines.removeLast();
        for (const QString& line : lines) {
            if (line.startsWith("File Path = ") || blocks.empty())
                blocks.push_back({path, {}, {}, 0});
            DwellBlock& b = blocks.back();
            if (b.header.size() < 21) {
                b.header << line;
                if (line.startsWith("Beam Direction = ")) b.beam = line.mid(17).toInt();
            } else {
                b.records << line;
            }
        }
    }
    return blocks;
}

// Bytes of data files written so far: cheap enough to poll during a run.
inline qint64 DataBytesUnder(const QString& root) {
    qint64 bytes = 0;
    for (const QString& file : DataFilesUnder(root)) bytes += QFileInfo(file).size();
    return bytes;
}

// The average of frames first .. first + n - 1 of the simulator's waveform,
// computed apart from the station's decoder.
inline QString ExpectedRecordFrom(std::int64_t first, int beam, int gates, int n,
                                  std::uint32_t period_counts) {
    QString line;
    for (int g = 1; g <= gates; ++g) {
        long long ip = 0, qp = 0;
        for (int k = 0; k < n; ++k) {
            const SimSample s = SimWaveform(first + k, beam, g, period_counts);
            ip += s.ip;
            qp += s.qp;
        }
        line += QString::number(StreamDecoder::AverageHalfEven(ip, n)) + ' ';
        line += QString::number(StreamDecoder::AverageHalfEven(qp, n)) + ' ';
    }
    return line + ' ';
}

// Record r of a dwell: frames r x n .. r x n + n - 1.
inline QString ExpectedRecord(int r, int beam, int gates, int n, std::uint32_t period_counts) {
    return ExpectedRecordFrom(static_cast<std::int64_t>(r) * n, beam, gates, n, period_counts);
}

// Number of records that differ from the waveform.
inline int MismatchedRecords(const DwellBlock& b, int gates, int n, std::uint32_t period_counts) {
    int bad = 0;
    for (int r = 0; r < b.records.size(); ++r)
        if (b.records[r] != ExpectedRecord(r, b.beam, gates, n, period_counts)) ++bad;
    return bad;
}
