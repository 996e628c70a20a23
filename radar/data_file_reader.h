#pragma once

#include <QMap>
#include <QString>
#include <vector>

#include "doppler_spectrum.h"

namespace zarv::radar {

// One header of a data file and the records after it, as the file holds them;
// a file that later dwells appended to holds several.
struct DataBlock {
    QMap<QString, QString> header;  // by label: "Gates", "IPP", ...
    int gates = 0;
    int integrations = 1;
    int ipp_us = 0;
    std::vector<std::vector<int>> records;  // 2 x gates words each

    double recordPeriodSeconds() const { return ipp_us * 1e-6 * integrations; }
    // Gate (1-based) as ip + j qp, one value per record.
    std::vector<Complex> series(int gate) const;
};

// Reads every block of a data file. A last line cut short is dropped; a line with
// the wrong number of values ends the block. Empty when the file cannot be read.
std::vector<DataBlock> ReadDataBlocks(const QString& path);
// The same from a file's bytes.
std::vector<DataBlock> ParseDataBlocks(const QByteArray& bytes);

}  // namespace zarv::radar
