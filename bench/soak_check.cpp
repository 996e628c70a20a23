// Reads every data file under a directory and compares each record with the
// average computed from the simulated controller's waveform. Given the
// simulated controller's trace (zarv-bridge-emu --trace), it also holds each
// dwell's journaled trigger start against the controller's own, and counts the
// records truly missing (by the frames the records hold) against the journal.
//   zarv-soak-check <data dir> [trace]
#include <QCoreApplication>
#include <QFile>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "tests/data_file_checker.h"

namespace {
int headerValue(const DwellBlock& b, const char* label) {
    for (const QString& line : b.header)
        if (line.startsWith(QLatin1String(label)))
            return line.mid(static_cast<int>(qstrlen(label))).toInt();
    return 0;
}
double headerDouble(const DwellBlock& b, const char* label) {
    for (const QString& line : b.header)
        if (line.startsWith(QLatin1String(label)))
            return line.mid(static_cast<int>(qstrlen(label))).toDouble();
    return 0;
}

// The trigger starts the controller traced, in microseconds since the epoch.
std::vector<std::int64_t> TraceTriggers(const QString& path) {
    std::vector<std::int64_t> out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return out;
    while (!f.atEnd()) {
        const QByteArray line = f.readLine();
        const int at = line.indexOf("utc_us=");
        if (at >= 0) out.push_back(line.mid(at + 7).trimmed().toLongLong());
    }
    return out;
}

// The journal's trigger start less the controller's nearest one, in ms.
double TriggerOffsetMs(const JournalEntry& e, const std::vector<std::int64_t>& triggers) {
    const std::int64_t journal_us = e.trigger.toMSecsSinceEpoch() * 1000;
    double best = 1e300;
    for (const std::int64_t t : triggers)
        if (std::abs(static_cast<double>(journal_us - t)) < std::abs(best))
            best = static_cast<double>(journal_us - t);
    return best / 1000;
}

// What the journal check adds up over the dwells.
struct PlacedTotals {
    long long records = 0, missing = 0, mismatched = 0, mixed = 0, miscounted = 0, checked = 0;
    long long lost_true = 0, lost_said = 0;
    double worst_trigger_ms = 0, worst_time_ms = 0;
    std::int64_t worst = 0;

    void add(const DwellBlock& block, const JournalEntry& entry,
             const std::vector<std::int64_t>& triggers) {
        const int ipp = headerValue(block, "IPP = ");
        const int gates = headerValue(block, "Gates = ");
        const int n = headerValue(block, "Integrations = ");
        const double ipp_s = ipp * 1e-6;
        // The placement promised: 10 ms or one record period, whichever is more.
        const auto tolerance =
            static_cast<std::int64_t>(std::max(0.011, n * ipp_s + 0.001) / ipp_s);
        const Placement p = CheckPlacedRecords(block, entry, gates, n,
                                               static_cast<std::uint32_t>(ipp) * 60, tolerance);
        records += block.records.size();
        missing += entry.implied - entry.written;
        checked += p.checked;
        mismatched += p.mismatched;
        mixed += p.mixed;
        worst = std::max(worst, p.worst_offset * ipp / 1000);  // in ms
        if (entry.written != block.records.size()) ++miscounted;
        // Records missing before the last one found: as its frames show, and as
        // the journal says.
        if (p.last_record >= 0) {
            lost_true += p.last_frame / n - p.last_record;
            for (const JournalGap& g : entry.gaps)
                if (g.record <= p.last_record) lost_said += g.missing;
        }
        if (!triggers.empty()) {
            const double off = TriggerOffsetMs(entry, triggers);
            worst_trigger_ms = std::max(worst_trigger_ms, std::abs(off));
            worst_time_ms = std::max(worst_time_ms, std::abs(off) + p.worst_offset * ipp / 1e3);
        }
    }
};

// With a dwell journal: every record against the waveform at the time the
// journal gives it, and the journal's counts against the files. The blocks are
// read one at a time, each paired with its journal line: the dwells of a file
// appended to are met in the order they were written.
int checkPlaced(const QString& root, const std::vector<JournalEntry>& journal,
                const std::vector<std::int64_t>& triggers) {
    std::map<std::pair<QString, int>, const JournalEntry*> by_occurrence;
    std::map<QString, int> lines_of;
    for (const JournalEntry& entry : journal)
        by_occurrence[{entry.file, lines_of[entry.file]++}] = &entry;
    PlacedTotals t;
    std::map<QString, int> blocks_of;
    ForEachDwellBlock(root, [&](DwellBlock&& block) {
        const auto found = by_occurrence.find({block.file, blocks_of[block.file]++});
        if (found == by_occurrence.end()) return;
        t.add(block, *found->second, triggers);
        by_occurrence.erase(found);
    });
    for (const auto& [key, entry] : by_occurrence) {
        std::printf("no data for journal line of %s\n", qPrintable(entry->file));
        ++t.miscounted;
    }
    std::printf("dwells             %zu\n", journal.size());
    std::printf("records            %lld\n", t.records);
    std::printf("records missing    %lld (journal)\n", t.missing);
    std::printf("records checked    %lld at their journal time\n", t.checked);
    std::printf("records misplaced  %lld (worst offset %lld ms)\n", t.mismatched,
                static_cast<long long>(t.worst));
    std::printf("records mixed      %lld (a lone record across a hole too small to be a gap)\n",
                t.mixed);
    std::printf("dwells miscounted  %lld\n", t.miscounted);
    std::printf("records lost       %lld by their frames, %lld by the journal\n", t.lost_true,
                t.lost_said);
    if (!triggers.empty()) {
        std::printf("trigger starts     worst %.1f ms off the controller's\n", t.worst_trigger_ms);
        std::printf("records' times     worst %.1f ms off their frame's\n", t.worst_time_ms);
    }
    return t.mismatched == 0 && t.miscounted == 0 ? 0 : 1;
}

// Without a journal: every record against the waveform from the dwell's first
// frame on, and the frames of every dwell but the last (cut short by Stop)
// against its dwell time.
int checkFromDwellStarts(const QString& root) {
    long long dwells = 0, records = 0, frames_recorded = 0, frames_expected = 0,
              full_dwell_frames = 0, mismatched = 0;
    long long last_frames = 0, last_expected = 0;  // the block before, counted once another comes
    ForEachDwellBlock(root, [&](DwellBlock&& b) {
        full_dwell_frames += last_frames;
        frames_expected += last_expected;
        const int ipp = headerValue(b, "IPP = ");
        const int gates = headerValue(b, "Gates = ");
        const int n = headerValue(b, "Integrations = ");
        const double dwell = headerDouble(b, "Dwell time = ");
        ++dwells;
        records += b.records.size();
        last_frames = static_cast<long long>(b.records.size()) * n;
        last_expected = ipp > 0 ? static_cast<long long>(dwell * 1e6 / ipp) : 0;
        frames_recorded += last_frames;
        mismatched += MismatchedRecords(b, gates, n, static_cast<std::uint32_t>(ipp) * 60);
    });
    std::printf("dwells             %lld\n", dwells);
    std::printf("records            %lld\n", records);
    std::printf("frames recorded    %lld\n", frames_recorded);
    std::printf(
        "full dwells        %lld frames recorded, %lld expected (dwell time x pulse rate)\n",
        full_dwell_frames, frames_expected);
    std::printf("records mismatched %lld\n", mismatched);
    return mismatched == 0 ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <data dir> [trace]\n", argv[0]);
        return 2;
    }
    const auto triggers =
        argc > 2 ? TraceTriggers(QString::fromLocal8Bit(argv[2])) : std::vector<std::int64_t>{};
    const QString root = QString::fromLocal8Bit(argv[1]);
    const auto journal = ReadJournals(root);
    return journal.empty() ? checkFromDwellStarts(root) : checkPlaced(root, journal, triggers);
}
