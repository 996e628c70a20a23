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

// With a dwell journal: every record against the waveform at the time the
// journal gives it, and the journal's counts against the files.
int checkPlaced(const std::vector<DwellBlock>& blocks, const std::vector<JournalEntry>& journal,
                const std::vector<std::int64_t>& triggers) {
    long long records = 0, missing = 0, mismatched = 0, mixed = 0, miscounted = 0, checked = 0;
    long long lost_true = 0, lost_said = 0;
    double worst_trigger_ms = 0, worst_time_ms = 0;
    std::int64_t worst = 0;
    for (const auto& [entry_ptr, block] : PairJournalWithBlocks(journal, blocks)) {
        const JournalEntry& entry = *entry_ptr;
        if (!block) {
            std::printf("no data for journal line of %s\n", qPrintable(entry.file));
            ++miscounted;
            continue;
        }
        const int ipp = headerValue(*block, "IPP = ");
        const int gates = headerValue(*block, "Gates = ");
        const int n = headerValue(*block, "Integrations = ");
        const double ipp_s = ipp * 1e-6;
        // The placement promised: 10 ms or one record period, whichever is more.
        const auto tolerance =
            static_cast<std::int64_t>(std::max(0.011, n * ipp_s + 0.001) / ipp_s);
        const Placement p = CheckPlacedRecords(*block, entry, gates, n,
                                               static_cast<std::uint32_t>(ipp) * 60, tolerance);
        records += block->records.size();
        missing += entry.implied - entry.written;
        checked += p.checked;
        mismatched += p.mismatched;
        mixed += p.mixed;
        worst = std::max(worst, p.worst_offset * ipp / 1000);  // in ms
        if (entry.written != block->records.size()) ++miscounted;
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
    std::printf("dwells             %zu\n", journal.size());
    std::printf("records            %lld\n", records);
    std::printf("records missing    %lld (journal)\n", missing);
    std::printf("records checked    %lld at their journal time\n", checked);
    std::printf("records misplaced  %lld (worst offset %lld ms)\n", mismatched,
                static_cast<long long>(worst));
    std::printf("records mixed      %lld (a lone record across a hole too small to be a gap)\n",
                mixed);
    std::printf("dwells miscounted  %lld\n", miscounted);
    std::printf("records lost       %lld by their frames, %lld by the journal\n", lost_true,
                lost_said);
    if (!triggers.empty()) {
        std::printf("trigger starts     worst %.1f ms off the controller's\n", worst_trigger_ms);
        std::printf("records' times     worst %.1f ms off their frame's\n", worst_time_ms);
    }
    return mismatched == 0 && miscounted == 0 ? 0 : 1;
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
    const auto blocks = ReadDwellBlocks(root);
    const auto journal = ReadJournals(root);
    if (!journal.empty()) return checkPlaced(blocks, journal, triggers);
    long long records = 0, frames_recorded = 0, frames_expected = 0, full_dwell_frames = 0,
              mismatched = 0;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const DwellBlock& b = blocks[i];
        const int ipp = headerValue(b, "IPP = ");
        const int gates = headerValue(b, "Gates = ");
        const int n = headerValue(b, "Integrations = ");
        const double dwell = headerDouble(b, "Dwell time = ");
        records += b.records.size();
        frames_recorded += static_cast<long long>(b.records.size()) * n;
        if (i + 1 < blocks.size()) {  // the last dwell was cut short by Stop
            frames_expected += static_cast<long long>(dwell * 1e6 / ipp);
            full_dwell_frames += static_cast<long long>(b.records.size()) * n;
        }
        mismatched += MismatchedRecords(b, gates, n, static_cast<std::uint32_t>(ipp) * 60);
    }
    std::printf("dwells             %zu\n", blocks.size());
    std::printf("records            %lld\n", records);
    std::printf("frames recorded    %lld\n", frames_recorded);
    std::printf(
        "full dwells        %lld frames recorded, %lld expected (dwell time x pulse rate)\n",
        full_dwell_frames, frames_expected);
    std::printf("records mismatched %lld\n", mismatched);
    return mismatched == 0 ? 0 : 1;
}
