// Arbitrary stream bytes, read lengths and settings through HandOverChunk and
// ProcessChunk, records written to /dev/null.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "acquisition/data_file.h"
#include "acquisition/graph_capture.h"
#include "acquisition/stream_decoder.h"
#include "tests/chunk_feeder.h"

using namespace zarv::acquisition;

namespace {
struct Events : StreamEvents {
    void framingError(int) override {}
    void tooManyFramingErrors() override {}
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const int gates = data[0] % 37;
    const int integrations = 1 + ((data[1] << 8) | data[2]) % 1000;
    const int pieces = 1 + data[3] % 8;
    data += 4;
    size -= 4;
    static DataFile file;
    if (!file.isOpen()) file.open("/dev/null");
    static StreamDecoder decoder;
    decoder.configure(gates, integrations);  // a new dwell: no framing errors
    GraphCapture graph;
    graph.renew();
    Events events;
    static ChunkFeeder feeder;
    // The input is cut into reads; each may be short or empty, and long inputs are
    // repeated up to a whole chunk so that the carry search runs at the chunk end.
    std::vector<std::uint8_t> read;
    std::size_t at = 0;
    for (int i = 0; i < pieces; ++i) {
        std::size_t n = size / pieces + (i == pieces - 1 ? size % pieces : 0);
        if (i == 0 && size > 0 && (data[0] & 1)) n = StreamDecoder::kChunkSize;
        read.resize(n);
        for (std::size_t k = 0; k < n; ++k) read[k] = size ? data[(at + k) % size] : 0;
        at += n;
        feeder.handOver(decoder, read.data(), static_cast<std::uint32_t>(n));
        decoder.ProcessChunk(&file, &graph, 1000, events);
    }
    return 0;
}
