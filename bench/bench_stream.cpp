// Stream processing speed: HandOverChunk + ProcessChunk over 131072-byte chunks
// of a clean stream as the reader queues them, records written to a real file;
// bare, and with the outlets every run has (the graph capturing a million
// points, the radar view's feed); next to the least pipeline that writes the
// same bytes, and memchr over the same bytes. bench/stream_speed.py prints the
// ratios.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryDir>
#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

#include "acquisition/chunk_queue.h"
#include "acquisition/data_file.h"
#include "acquisition/graph_capture.h"
#include "acquisition/record_outlets.h"
#include "acquisition/stream_decoder.h"
#include "radar/radar_feed.h"
#include "simulator/sim_waveform.h"

using namespace zarv::acquisition;
using namespace zarv::radar;
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

// The least a recorder can do and still write the station's bytes: find each
// frame by its marker, average its words, print them, write once a chunk.
class MinimalPipeline {
  public:
    MinimalPipeline(int gates, int integrations)
        : words_(2 * gates), n_(integrations), sums_(static_cast<std::size_t>(words_)) {}
    void open(const QString& path) {
        fd_ = ::open(path.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    void close() { ::close(fd_); }

    void feed(const std::uint8_t* chunk, std::size_t size) {
        // The frame the last chunk cut, made whole with the start of this one.
        std::size_t at = 0;
        if (!carry_.empty()) {
            const std::size_t need = std::min(size, 2 * kFrame - carry_.size());
            carry_.insert(carry_.end(), chunk, chunk + need);
            const std::size_t used = frames(carry_.data(), carry_.size());
            at = used >= carry_.size() - need ? used - (carry_.size() - need) : 0;
            carry_.clear();
        }
        at += frames(chunk + at, size - at);
        carry_.assign(chunk + at, chunk + size);
        [[maybe_unused]] const auto written = ::write(fd_, text_.data(), text_.size());
        text_.clear();
    }

  private:
    static constexpr std::size_t kFrame = 148;
    static bool marker(const std::uint8_t* p) {
        return p[0] == 0xFE && p[1] == 0xFF && p[2] == 0xFE && p[3] == 0xFF;
    }
    // Every frame whose next marker is in [p, p + size); returns where the
    // first frame not taken begins.
    std::size_t frames(const std::uint8_t* p, std::size_t size) {
        std::size_t at = 0;
        while (at + kFrame + 4 <= size) {
            if (!marker(p + at) || !marker(p + at + kFrame)) {
                ++at;
                continue;
            }
            for (int w = 0; w < words_; ++w) {
                const std::uint8_t* b = p + at + 4 + 2 * w;
                sums_[static_cast<std::size_t>(w)] +=
                    StreamDecoder::DecodeWord(static_cast<std::uint16_t>(b[0] | (b[1] << 8)));
            }
            if (++summed_ == n_) record();
            at += kFrame;
        }
        return at;
    }
    void record() {
        char line[16 * 72 + 4];
        char* q = line;
        for (std::int64_t& sum : sums_) {
            const auto v = static_cast<int>(std::nearbyint(static_cast<double>(sum) / n_));
            q = std::to_chars(q, q + 12, v).ptr;
            *q++ = ' ';
            sum = 0;
        }
        *q++ = ' ', *q++ = '\r', *q++ = '\n';
        text_.append(line, q);
        summed_ = 0;
    }

    int words_, n_;
    int summed_ = 0;
    std::vector<std::int64_t> sums_;
    std::vector<std::uint8_t> carry_;
    std::string text_;
    int fd_ = -1;
};

QByteArray FileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The station's decoder with what it hands the records to (null: the file only).
struct Station {
    Station(int gates, int integrations) { decoder.configure(gates, integrations); }
    void chunk(std::vector<std::uint8_t>& slot, DataFile& file, RecordSink* outlets,
               int integrations) {
        decoder.HandOverChunk(slot.data() + ChunkQueue::kHeadroom, kChunk);
        decoder.ProcessChunk(&file, outlets, 100 * integrations, events);
    }
    StreamDecoder decoder;
    NoEvents events;
};

// The same chunks through both, into files compared byte for byte.
bool WritesTheStationsBytes(int gates, int integrations) {
    auto chunks = Slots(gates);
    QTemporaryDir dir;
    DataFile file;
    file.open(dir.path() + "/station.txt");
    Station station(gates, integrations);
    MinimalPipeline minimal(gates, integrations);
    minimal.open(dir.path() + "/minimal.txt");
    for (auto& slot : chunks) {
        minimal.feed(slot.data() + ChunkQueue::kHeadroom, kChunk);
        station.chunk(slot, file, nullptr, integrations);
    }
    file.close();
    minimal.close();
    const QByteArray a = FileBytes(dir.path() + "/station.txt");
    return !a.isEmpty() && a == FileBytes(dir.path() + "/minimal.txt");
}

// The outlets as a run with the graph and the radar view has them.
struct Outlets {
    Outlets() {
        graph.startCapturing();
        graph.setPointsText("1000000");
        graph.renew();
        feed.dwellBegins(1);
        outlets.setExtra(&feed);
    }
    GraphCapture graph;
    RadarFeed feed;
    RecordOutlets outlets{&graph};
};

void RunStation(benchmark::State& state, bool attached) {
    const int gates = static_cast<int>(state.range(0));
    const int integrations = static_cast<int>(state.range(1));
    auto chunks = Slots(gates);
    QTemporaryDir dir;
    DataFile file;
    const QString path = dir.path() + "/bench_beam1.txt";
    file.open(path);
    Outlets outlets;
    Station station(gates, integrations);
    std::size_t at = 0;
    for (auto _ : state) {
        station.chunk(chunks[at], file, attached ? &outlets.outlets : nullptr, integrations);
        at = (at + 1) % chunks.size();
        if (at == 0) {
            // A file that grew without end would measure the disk's writeback
            // instead of the processing: a fresh one every 148 chunks.
            state.PauseTiming();
            file.abandon();
            QFile::remove(path);
            file.open(path);
            if (!outlets.graph.graphLive()) outlets.graph.renew();
            state.ResumeTiming();
        }
    }
    if (station.decoder.framing_errors() != 0)
        state.SkipWithError("framing errors in a clean stream");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kChunk);
}

void BM_ProcessChunk(benchmark::State& state) {
    RunStation(state, false);
}
void BM_ProcessChunkAttached(benchmark::State& state) {
    RunStation(state, true);
}

void BM_MinimalPipeline(benchmark::State& state) {
    const int gates = static_cast<int>(state.range(0));
    const int integrations = static_cast<int>(state.range(1));
    if (!WritesTheStationsBytes(gates, integrations)) {
        state.SkipWithError("the minimal pipeline's bytes differ from the station's");
        return;
    }
    auto chunks = Slots(gates);
    QTemporaryDir dir;
    const QString path = dir.path() + "/minimal_beam1.txt";
    MinimalPipeline minimal(gates, integrations);
    minimal.open(path);
    std::size_t at = 0;
    for (auto _ : state) {
        minimal.feed(chunks[at].data() + ChunkQueue::kHeadroom, kChunk);
        at = (at + 1) % chunks.size();
        if (at == 0) {
            state.PauseTiming();
            minimal.close();
            QFile::remove(path);
            minimal.open(path);
            state.ResumeTiming();
        }
    }
    minimal.close();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kChunk);
}

#define ZARV_STREAM_SETTINGS(bm)              \
    BENCHMARK(bm)                             \
        ->ArgNames({"gates", "integrations"}) \
        ->Args({36, 1})                       \
        ->Args({36, 10})                      \
        ->Args({36, 100})                     \
        ->Args({2, 1})                        \
        ->Unit(benchmark::kMicrosecond)
ZARV_STREAM_SETTINGS(BM_MinimalPipeline);
ZARV_STREAM_SETTINGS(BM_ProcessChunk);
ZARV_STREAM_SETTINGS(BM_ProcessChunkAttached);

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
