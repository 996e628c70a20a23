#include "data_file_reader.h"

#include <QFile>

namespace zarv::radar {

namespace {
constexpr int kHeaderLines = 21;
constexpr int kMaxGates = 36;

bool ParseRecord(const QByteArray& line, int words, std::vector<int>& out) {
    out.clear();
    for (const QByteArray& field : line.split(' ')) {
        if (field.isEmpty()) continue;
        bool ok = false;
        out.push_back(field.toInt(&ok));
        if (!ok) return false;
    }
    return static_cast<int>(out.size()) == words;
}
}  // namespace

std::vector<Complex> DataBlock::series(int gate) const {
    std::vector<Complex> out;
    if (gate < 1 || gate > gates) return out;
    out.reserve(records.size());
    for (const auto& r : records)
        out.emplace_back(r[static_cast<std::size_t>(2 * gate - 2)],
                         r[static_cast<std::size_t>(2 * gate - 1)]);
    return out;
}

std::vector<DataBlock> ReadDataBlocks(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return ParseDataBlocks(file.readAll());
}

std::vector<DataBlock> ParseDataBlocks(const QByteArray& bytes) {
    std::vector<DataBlock> blocks;
    const QList<QByteArray> lines = bytes.split('\n');
    std::vector<int> values;
    for (qsizetype i = 0; i < lines.size();) {
        if (!lines[i].startsWith("File Path = ") || i + kHeaderLines > lines.size()) {
            ++i;
            continue;
        }
        DataBlock block;
        for (int h = 0; h < kHeaderLines; ++h) {
            const QString line = QString::fromLocal8Bit(lines[i + h]).trimmed();
            const qsizetype eq = line.indexOf(QStringLiteral(" = "));
            if (eq > 0) block.header.insert(line.left(eq), line.mid(eq + 3));
        }
        // A frame holds 36 gates; a header that says otherwise has no records here.
        block.gates = block.header.value(QStringLiteral("Gates")).toInt();
        const bool readable = block.gates >= 0 && block.gates <= kMaxGates;
        if (!readable) block.gates = 0;
        block.integrations =
            std::max(1, block.header.value(QStringLiteral("Integrations")).toInt());
        block.ipp_us = block.header.value(QStringLiteral("IPP")).toInt();
        i += kHeaderLines;
        // Only whole lines count: a record line ends in CR LF.
        for (; readable && i + 1 < lines.size() && lines[i].endsWith('\r') &&
               ParseRecord(lines[i].chopped(1), 2 * block.gates, values);
             ++i)
            block.records.push_back(values);
        blocks.push_back(std::move(block));
    }
    return blocks;
}

}  // namespace zarv::radar
