// Stream processing speed: HandOverChunk + ProcessChunk over 131072-byte chunks
// of a clean stream as the reader queues them, records written to a real file,
// next to memchr over the same bytes.
#include <benchmark/benchmark.h>

#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <vector>

#include "acquisition/chunk_queue.h"
#include "acquisition/data_file.h"
#include "acquisition/graph_capture.h"
#include "acquisition/stream_decoder.h"
#include "simulator/sim_waveform.h"

using namespace zarv::acquisition;
using namespace zarv::sim;

namespace {
constexpr int kChunk = StreamDecoder::kChunkSize;
constexpr std::uint32_t kPeriodCounts = 6000;  // ipp 100 us

// 148 chunks' worth: a whole number of frames and of chunks, so cycling is seamless.
const std::vector<std::uint8_t>& CleanStream(int gates) {
    static std::vector<std::uint8_t> streams[37];
    std::vector<std::uint8_t>& s = streams[gates];
    if (!s.empty()) return s;
    s.resize(static_cast<std::size_t>(kChunk) * 148);
    for (std::size_t frame = 0; frame * 148 < s.size(); ++frame) {
        std::uint8_t* f = &s[frame * 148];
        f[0] = 0xFE, f[1] = 0xFF, f[2] = 0xFE, f[3] = 0xFF;
        for (int g = 1; g <= 36; ++g) {
            const SimSample v = SimWaveform(static_cast<std::int64_t>(frame), 1, g, kPeriodCounts);
            const std::uint16_t ip = g <= gates ? SimWireWord(v.ip) : 0,
                                qp = g <= gates ? SimWireWord(v.qp) : 0;
            std::uint8_t* w = f + 4 + 4 * (g - 1);
            w[0] = ip & 0xFF, w[1] = ip >> 8, w[2] = qp & 0xFF, w[3] = qp >> 8;
        }
    }
    return s;
}

struct NoEvents : StreamEvents {
    void framingError(int) override {}
    void tooManyFramingErrors() override {}
};

// The stream as the reader leaves it: every chunk in a slot of its own, with room
// before and after it, decoded where it lies.
std::vector<std::vector<std::uint8_t>> Slots(int gates) {
    const auto& stream = CleanStream(gates);
    std::vector<std::vector<std::uint8_t>> chunks(stream.size() / kChunk);
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        chunks[i].assign(ChunkQueue::kHeadroom + kChunk + ChunkQueue::kTailRoom, 0);
        std::memcpy(chunks[i].data() + ChunkQueue::kHeadroom, &stream[i * kChunk], kChunk);
    }
    return chunks;
}

void BM_ProcessChunk(benchmark::State& state) {
    const int gates = static_cast<int>(state.range(0));
    const int integrations = static_cast<int>(state.range(1));
    auto chunks = Slots(gates);
    QTemporaryDir dir;
    DataFile file;
    const QString path = dir.path() + "/bench_beam1.txt";
    file.open(path);
    GraphCapture graph;
    graph.renew();
    StreamDecoder decoder;
    decoder.configure(gates, integrations);
    NoEvents events;
    std::size_t at = 0;
    for (auto _ : state) {
        decoder.HandOverChunk(chunks[at].data() + ChunkQueue::kHeadroom, kChunk);
        decoder.ProcessChunk(&file, &graph, 100 * integrations, events);
        at = (at + 1) % chunks.size();
        if (at == 0) {
            // A file that grew without end would measure the disk's writeback
            // instead of the processing: a fresh one every 148 chunks.
            state.PauseTiming();
            file.abandon();
            QFile::remove(path);
            file.open(path);
            state.ResumeTiming();
        }
    }
    if (decoder.framing_errors() != 0) state.SkipWithError("framing errors in a clean stream");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kChunk);
}
BENCHMARK(BM_ProcessChunk)
    ->ArgNames({"gates", "integrations"})
    ->ArgsProduct({{2, 36}, {1, 10, 100}})
    ->Unit(benchmark::kMicrosecond);

void BM_Memchr(benchmark::State& state) {
    const auto& stream = CleanStream(36);
    std::size_t at = 0;
    for (auto _ : state) {
        // Every 0xFE of the chunk, as the marker scan meets them.
        const std::uint8_t* p = &stream[at];
        const std::uint8_t* end = p + kChunk;
        int found = 0;
        while ((p = static_cast<const std::uint8_t*>(
                    std::memchr(p, 0xFE, static_cast<std::size_t>(end - p))))) {
            ++found;
            ++p;
        }
        benchmark::DoNotOptimize(found);
        at = (at + kChunk) % stream.size();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kChunk);
}
BENCHMARK(BM_Memchr)->Unit(benchmark::kMicrosecond);
}  // namespace

BENCHMARK_MAIN();
