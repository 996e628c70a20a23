// Reads every data file under a directory and compares each record with the
// average computed from the simulated controller's waveform.
//   zarv-soak-check <data dir>
#include <QCoreApplication>
#include <cstdio>

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
}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <data dir>\n", argv[0]);
        return 2;
    }
    const auto blocks = ReadDwellBlocks(QString::fromLocal8Bit(argv[1]));
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
