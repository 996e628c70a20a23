#pragma once

#include <QDateTime>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <map>
#include <utility>
#include <vector>

#include "acquisition/stream_decoder.h"
#include "simulator/sim_waveform.h"

#include "stream_builder.h"

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

// Hands every dwell block under root to take, file by file, holding one block
// at a time: a long run's files need not fit in memory. Lines end in CR LF; a
// torn last line is left out.
template <typename Take>
void ForEachDwellBlock(const QString& root, Take take) {
    for (const QString& path : DataFilesUnder(root)) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) continue;
        DwellBlock block{path, {}, {}, 0};
        bool open = false;
        QByteArray line;
        while (!f.atEnd()) {
            line += f.readLine();
            if (!line.endsWith("\r\n")) continue;  // a lone LF inside a line, or torn
            line.chop(2);
            if (line.startsWith("File Path = ") && open) {
                take(std::move(block));
                block = DwellBlock{path, {}, {}, 0};
            }
            open = true;
            if (block.header.size() < 21) {
                if (line.startsWith("Beam Direction = ")) block.beam = line.mid(17).toInt();
                block.header << QString::fromLatin1(line);
            } else {
                block.records << QString::fromLatin1(line);
            }
            line.clear();
        }
        if (open) take(std::move(block));
    }
}

inline std::vector<DwellBlock> ReadDwellBlocks(const QString& root) {
    std::vector<DwellBlock> blocks;
    ForEachDwellBlock(root, [&](DwellBlock&& b) { blocks.push_back(std::move(b)); });
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
        line += QString::number(AverageHalfEven(ip, n)) + ' ';
        line += QString::number(AverageHalfEven(qp, n)) + ' ';
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

// ---- records against the dwell journal -------------------------------------

// One line of dwells.jsonl, as the tests need it.
struct JournalGap {
    std::int64_t record = 0;
    std::int64_t missing = 0;
    QDateTime at;
    QString cause;
};
struct JournalEntry {
    QString file;
    int beam = 0;
    QDateTime trigger;
    QDateTime end;
    double period_s = 0;
    std::int64_t written = 0;
    std::int64_t implied = 0;
    std::vector<JournalGap> gaps;
};

inline QDateTime JournalTime(const QJsonValue& v) {
    return QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
}

// Every journal line under a directory tree, in file order.
inline std::vector<JournalEntry> ReadJournals(const QString& root) {
    std::vector<JournalEntry> entries;
    QStringList journals;
    QDirIterator it(root, {"dwells.jsonl"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) journals << it.next();
    std::sort(journals.begin(), journals.end());
    for (const QString& path : journals) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) continue;
        for (const QByteArray& line : f.readAll().split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.isEmpty()) continue;
            JournalEntry e;
            e.file = QFileInfo(path).path() + '/' + o["file"].toString();
            e.beam = o["beam"].toInt();
            e.trigger = JournalTime(o["trigger_start"]);
            e.end = JournalTime(o["end"]);
            e.period_s = o["record_period_s"].toDouble();
            e.written = o["records_written"].toInteger();
            e.implied = o["records_implied"].toInteger();
            for (const QJsonValue& g : o["discontinuities"].toArray()) {
                const QJsonObject go = g.toObject();
                e.gaps.push_back({go["record"].toInteger(), go["missing"].toInteger(),
                                  JournalTime(go["at"]), go["cause"].toString()});
            }
            entries.push_back(e);
        }
    }
    return entries;
}

// Each journal line with the dwell it describes: a file appended to holds
// several dwells, met in the order they were written. Null where none is found.
inline std::vector<std::pair<const JournalEntry*, const DwellBlock*>> PairJournalWithBlocks(
    const std::vector<JournalEntry>& journal, const std::vector<DwellBlock>& blocks) {
    std::vector<std::pair<const JournalEntry*, const DwellBlock*>> pairs;
    std::map<QString, int> seen;
    for (const JournalEntry& entry : journal) {
        int occurrence = seen[entry.file]++;
        const DwellBlock* block = nullptr;
        for (const DwellBlock& b : blocks)
            if (b.file == entry.file && occurrence-- == 0) block = &b;
        pairs.emplace_back(&entry, block);
    }
    return pairs;
}

// How well a dwell's records sit at the times its journal line gives them.
struct Placement {
    int checked = 0;
    int mismatched = 0;  // records that match no frames near their time
    int mixed = 0;       // lone records between two placed ones: frames from both sides of a hole
    std::int64_t worst_offset = 0;  // frames between a record's place and its frames
    // The last record found, and the frame it began with: the records missing
    // before it are that frame's record less its index.
    std::int64_t last_record = -1;
    std::int64_t last_frame = -1;
};

// Each stretch of records between gaps is looked for near the frames its journal
// time implies (within tolerance_frames), then checked record by record against
// the waveform. A hole too small to be a gap (less than the placement promises)
// shifts the records after it a little: they are looked for again near their
// place. The records on either side of a gap that a framing error found may mix
// frames from both sides: they are left out; a lone record that matches nothing
// between two that do is counted as mixed.
inline Placement CheckPlacedRecords(const DwellBlock& b, const JournalEntry& e, int gates, int n,
                                    std::uint32_t period_counts, std::int64_t tolerance_frames) {
    Placement p;
    const double ipp_s = period_counts / 60e6;
    struct Stretch {
        std::int64_t first, last, frame;
    };
    std::vector<Stretch> stretches;
    std::int64_t start = 0, frame = 0;
    for (const JournalGap& g : e.gaps) {
        const bool mixed = g.cause == "framing";
        stretches.push_back({start, g.record - (mixed ? 2 : 1), frame});
        start = g.record + (mixed ? 1 : 0);
        frame = std::llround(static_cast<double>(e.trigger.msecsTo(g.at)) / 1000 / ipp_s) +
                (mixed ? n : 0);
    }
    stretches.push_back({start, static_cast<std::int64_t>(b.records.size()) - 1, frame});
    const std::int64_t none = -tolerance_frames - 1;
    for (const Stretch& s : stretches) {
        const auto expect = [&](std::int64_t r, std::int64_t d) {
            return ExpectedRecordFrom(s.frame + (r - s.first) * n + d, b.beam, gates, n,
                                      period_counts);
        };
        const auto search = [&](std::int64_t r) {
            const QString& record = b.records[static_cast<int>(r)];
            for (std::int64_t d = 0; d <= tolerance_frames; ++d) {
                if (record == expect(r, d)) return d;
                if (record == expect(r, -d)) return -d;
            }
            return none;
        };
        std::int64_t offset = none;
        bool any_placed = false;
        int unplaced_run = 0;
        for (std::int64_t r = s.first; r <= s.last; ++r) {
            ++p.checked;
            const bool placed =
                (offset != none && b.records[static_cast<int>(r)] == expect(r, offset)) ||
                (offset = search(r)) != none;
            if (!placed) {
                ++p.mismatched;
                ++unplaced_run;
                continue;
            }
            p.worst_offset = std::max<std::int64_t>(p.worst_offset, std::abs(offset));
            p.last_record = r;
            p.last_frame = s.frame + (r - s.first) * n + offset;
            if (any_placed && unplaced_run == 1) {  // the one before was alone
                --p.mismatched;
                ++p.mixed;
            }
            any_placed = true;
            unplaced_run = 0;
        }
    }
    return p;
}
