#include <gtest/gtest.h>

#include <unistd.h>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "acquisition/data_file.h"
#include "acquisition/graph_capture.h"
#include "acquisition/stream_decoder.h"
#include "acquisition/stream_kernels.h"
#include "chunk_feeder.h"
#include "station/run_config.h"
#include "stream_builder.h"

using namespace zarv::acquisition;
using namespace zarv::station;

namespace {
struct CountingEvents : StreamEvents {
    std::vector<int> counts;
    int too_many = 0;
    void framingError(int count) override { counts.push_back(count); }
    void tooManyFramingErrors() override { ++too_many; }
};

// Decodes whole buffers and reads the record lines back from a real file.
class DecoderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path = dir.path() + "/records.txt";
        file.open(path);
    }
    void feed(const std::vector<std::uint8_t>& bytes) {
        feeder.handOver(decoder, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
        decoder.ProcessChunk(&file, &graph, 1000, events);
    }
    QStringList records() {
        file.flush();
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        const QString text = QString::fromLatin1(f.readAll());
        QStringList lines = text.split("\r\n");
        lines.removeLast();
        return lines;
    }

    QTemporaryDir dir;
    QString path;
    DataFile file;
    GraphCapture graph;
    StreamDecoder decoder;
    ChunkFeeder feeder;
    CountingEvents events;
};

TEST(SampleDecoding, SignExtendsBit11) {
    EXPECT_EQ(StreamDecoder::DecodeSample(0xFF, 0x07), 2047);
    EXPECT_EQ(StreamDecoder::DecodeSample(0x00, 0x08), -2048);
    EXPECT_EQ(StreamDecoder::DecodeSample(0xFF, 0x0F), -1);
    EXPECT_EQ(StreamDecoder::DecodeSample(0x00, 0x10), 4096);
    EXPECT_EQ(StreamDecoder::DecodeSample(0x00, 0x80), -32768);
}

TEST(SampleDecoding, AveragesRoundHalfToEven) {
    EXPECT_EQ(AverageHalfEven(5, 2), 2);
    EXPECT_EQ(AverageHalfEven(7, 2), 4);
    EXPECT_EQ(AverageHalfEven(-5, 2), -2);
    EXPECT_EQ(AverageHalfEven(-7, 2), -4);
    EXPECT_EQ(AverageHalfEven(10, 4), 2);
    EXPECT_EQ(AverageHalfEven(11, 4), 3);
    EXPECT_EQ(AverageHalfEven(-11, 4), -3);
    EXPECT_EQ(AverageHalfEven(0, 3), 0);
}

TEST_F(DecoderTest, IntegrationsOfOneGiveOneRecordPerFrame) {
    decoder.configure(2, 1);
    std::vector<std::uint8_t> s;
    for (int i = 0; i < 4; ++i) AppendFrame(s, {std::uint16_t(i), 0x0FFF, 5, 0x0800});
    feed(s);  // the last frame has no closing marker yet: it is carried
    EXPECT_EQ(records(), QStringList({"0 -1 5 -2048  ", "1 -1 5 -2048  ", "2 -1 5 -2048  "}));
    EXPECT_TRUE(events.counts.empty());
}

TEST_F(DecoderTest, SumsRunAcrossChunksAndRoundToEven) {
    decoder.configure(1, 2);
    std::vector<std::uint8_t> a, b;
    AppendFrame(a, {2, 0x0FFD});  // 2, -3
    AppendFrame(a, {3, 0x0FFE});  // 3, -2: sums 5, -5
    AppendFrame(b, {3, 4});
    AppendFrame(b, {4, 4});
    feed(a);
    EXPECT_TRUE(records().isEmpty());  // one frame summed, one carried
    feed(b);
    EXPECT_EQ(records(), QStringList({"2 -2  "}));
    EXPECT_EQ(decoder.frames_summed(), 1);
}

TEST_F(DecoderTest, LostMarkerIsOneErrorAndTheMergedFrameSummedOnce) {
    decoder.configure(1, 1);
    std::vector<std::uint8_t> s;
    AppendFrame(s, {1, 1});
    AppendFrame(s, {2, 2});
    AppendFrame(s, {3, 3});
    AppendFrame(s, {4, 4});
    s[148] = 0;  // frame 2 loses its marker
    feed(s);
    EXPECT_EQ(events.counts, std::vector<int>{1});
    EXPECT_EQ(records(), QStringList({"1 1  ", "3 3  "}));
}

TEST_F(DecoderTest, CarryTwentyBytesBeforeTheEnd) {
    decoder.configure(1, 1);
    std::vector<std::uint8_t> s;
    for (int i = 0; i < 1000; ++i) AppendFrame(s, {std::uint16_t(i), 0});
    // Frame 886 begins at 886 x 148 = 131128; a chunk from 76 on ends 20 bytes after it.
    const std::vector<std::uint8_t> first(s.begin() + 76, s.begin() + 76 + 131072);
    feed(first);
    EXPECT_EQ(decoder.carry_pos(), 131072 - 20);
    const std::vector<std::uint8_t> second(s.begin() + 76 + 131072,
                                           s.begin() + 76 + 131072 + 3 * 148);
    feed(second);
    EXPECT_EQ(decoder.streamBuffer()[0], 0xFE);  // the carry leads the next buffer
    EXPECT_TRUE(events.counts.empty());
    const QStringList lines = records();
    ASSERT_EQ(lines.size(), 888);  // frames 1 to 888, each once
    for (int k = 0; k < lines.size(); ++k) ASSERT_EQ(lines[k], QString("%1 0  ").arg(k + 1));
}

TEST_F(DecoderTest, MarkerEndingOnTheLastByteCarriesOnlyTheMarker) {
    decoder.configure(1, 1);
    std::vector<std::uint8_t> s;
    AppendFrame(s, {1, 1});
    AppendFrame(s, {2, 2});
    s.resize(2 * 148 - 144);  // second marker ends the read
    feed(s);
    EXPECT_EQ(decoder.carry_pos(), 148);
    EXPECT_EQ(records(), QStringList({"1 1  "}));
}

TEST_F(DecoderTest, ShortReadsHandOverOnlyWhatWasRead) {
    decoder.configure(2, 1);
    std::vector<std::uint8_t> s;
    for (int i = 0; i < 6; ++i) AppendFrame(s, {std::uint16_t(10 + i), 1, 2, 3});
    // A long read first leaves stale bytes behind; later reads are short.
    std::vector<std::uint8_t> stale(131072, 0);
    for (std::size_t i = 0; i < stale.size(); i += 148)
        std::copy(s.begin(), s.begin() + 4, stale.begin() + static_cast<long>(i));
    feeder.handOver(decoder, stale.data(), 0);
    std::size_t at = 0;
    for (std::size_t piece : {100u, 3u, 300u, 1u, 484u}) {
        std::vector<std::uint8_t> read(s.begin() + static_cast<long>(at),
                                       s.begin() + static_cast<long>(at + piece));
        feed(read);
        at += piece;
    }
    EXPECT_EQ(records(),
              QStringList({"10 1 2 3  ", "11 1 2 3  ", "12 1 2 3  ", "13 1 2 3  ", "14 1 2 3  "}));
    EXPECT_TRUE(events.counts.empty());
}

TEST_F(DecoderTest, EveryMarkerOfAFullChunkIsKept) {
    decoder.configure(1, 100);  // long dwells, few markers expected per dwell
    std::vector<std::uint8_t> s;
    for (int i = 0; i < 886; ++i) AppendFrame(s, {1, 1});
    s.resize(131072);
    feed(s);
    EXPECT_EQ(records().size(), 8);  // 885 frames: 8 records of 100, 85 summed
    EXPECT_EQ(decoder.frames_summed(), 85);
}

TEST_F(DecoderTest, The101stFramingErrorDropsTheChunk) {
    decoder.configure(1, 1);
    std::vector<std::uint8_t> s;
    for (int i = 0; i < 110; ++i) {
        AppendFrame(s, {1, 1});
        s.push_back(0);  // every distance is 149
    }
    feed(s);
    EXPECT_EQ(events.counts.size(), 101u);
    EXPECT_EQ(events.too_many, 1);
    EXPECT_TRUE(records().isEmpty());
    decoder.reset();  // a new dwell counts from 0
    EXPECT_EQ(decoder.framing_errors(), 0);
    std::vector<std::uint8_t> clean;
    for (int i = 0; i < 3; ++i) AppendFrame(clean, {4, 4});
    feed(clean);
    EXPECT_EQ(events.too_many, 1);
    EXPECT_EQ(records().size(), 2);
}

TEST_F(DecoderTest, GatesZeroWriteSingleBlankRecords) {
    decoder.configure(0, 1);
    std::vector<std::uint8_t> s;
    for (int i = 0; i < 3; ++i) AppendFrame(s, {});
    feed(s);
    EXPECT_EQ(records(), QStringList({" ", " "}));
}

TEST_F(DecoderTest, GraphTakesEveryValueInRecordOrder) {
    graph.renew();
    graph.setGateText("2");
    decoder.configure(2, 1);
    std::vector<std::uint8_t> s;
    for (int i = 0; i < 4; ++i)
        AppendFrame(s, {1, 2, std::uint16_t(100 + i), std::uint16_t(200 + i)});
    feed(s);
    ASSERT_EQ(graph.ipPoints().size(), 3u);
    EXPECT_EQ(graph.ipPoints()[2], QPointF(2, 102));
    EXPECT_EQ(graph.qpPoints()[0], QPointF(1, 200));
}

TEST_F(DecoderTest, GarbageIsCountedAndTheStreamIsFoundAgainAfterIt) {
    decoder.configure(2, 1);
    std::vector<std::uint8_t> s(131072);
    std::uint32_t x = 12345;
    for (auto& b : s) {
        x = x * 1103515245 + 12345;
        b = (x >> 16) & 3 ? static_cast<std::uint8_t>(x >> 8) : (x & 4 ? 0xFE : 0xFF);
    }
    for (int i = 0; i < 3; ++i) feed(s);
    EXPECT_GT(decoder.framing_errors(), 0);
    const qsizetype after_garbage = records().size();
    std::vector<std::uint8_t> good;
    for (int i = 0; i < 5; ++i) AppendFrame(good, {std::uint16_t(100 + i), 1, 2, 3});
    feed(good);  // the first may close on the garbage's last marker; the last is carried
    const QStringList r = records();
    ASSERT_GE(r.size(), after_garbage + 3);
    EXPECT_EQ(r.mid(r.size() - 3), QStringList({"101 1 2 3  ", "102 1 2 3  ", "103 1 2 3  "}));
}

// What is written reaches the disk at least once a second, and at the close.
// Every start of FE FF FE FF, whichever kernel the processor runs: overlapping
// markers, markers across the kernel's 32-byte blocks, lone halves and bytes of
// FE and FF that make no marker, for every length around the block size.
TEST(MarkerSearch, FindsEveryStartAsAByteByByteSearchDoes) {
    std::uint32_t state = 12345;
    const auto next = [&] {
        state = state * 1664525u + 1013904223u;
        return state >> 24;
    };
    const std::uint8_t alphabet[] = {0xFE, 0xFF, 0x00, 0x0F};
    for (int length = 4; length < 300; ++length) {
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length) + 128, 0);
        for (int i = 0; i < length; ++i) bytes[static_cast<std::size_t>(i)] = alphabet[next() % 4];
        // Plant a few whole markers and a run of them that overlap.
        for (int k = 0; k < 3; ++k) {
            const auto at = static_cast<std::size_t>(next() % static_cast<unsigned>(length - 3));
            std::copy_n("\xFE\xFF\xFE\xFF", 4, bytes.begin() + static_cast<std::ptrdiff_t>(at));
        }
        if (length > 40) std::copy_n("\xFE\xFF\xFE\xFF\xFE\xFF\xFE\xFF", 8, bytes.begin() + 29);
        const int last = length - 4;
        std::vector<std::int32_t> expected;
        for (int at = 0; at <= last; ++at) {
            const std::uint8_t* b = bytes.data() + at;
            if (b[0] == 0xFE && b[1] == 0xFF && b[2] == 0xFE && b[3] == 0xFF)
                expected.push_back(at);
        }
        std::vector<std::int32_t> found(static_cast<std::size_t>(length), -1);
        const int n = FindMarkerStarts(bytes.data(), last, found.data());
        found.resize(static_cast<std::size_t>(std::max(n, 0)));
        ASSERT_EQ(found, expected) << "length " << length;
    }
}

TEST(DataFile, SyncsOnceASecondWhileWritingAndAtTheClose) {
    QTemporaryDir dir;
    DataFile file;
    int syncs = 0;
    DataFile::Clock::time_point now{};
    file.setSyncCall([&](int fd) {
        ++syncs;
        return ::fdatasync(fd);
    });
    file.setClock([&] { return now; });
    file.open(dir.path() + "/dwell.txt");
    const int values[2] = {1, 2};
    for (int tenth = 1; tenth <= 50; ++tenth) {  // five seconds of chunks
        file.appendRecord(values, 2);
        file.flush();
        now += std::chrono::milliseconds(100);
    }
    EXPECT_EQ(syncs, 4);  // at 1, 2, 3 and 4 s
    file.flush();         // nothing new, but what came after 4 s is now a second old
    EXPECT_EQ(syncs, 5);
    file.appendRecord(values, 2);
    file.flush();  // not due
    EXPECT_EQ(syncs, 5);
    file.close();  // what came after the last sync
    EXPECT_EQ(syncs, 6);
}

TEST(DataFile, HeaderAndRecordsByteForByte) {
    QTemporaryDir dir;
    TRunConfig c;
    c.ipp = 1000;
    c.resolution = 150;
    c.pulse_length = 1000;
    c.start_time = 2000;
    c.gates = 2;
    c.integrations = 10;
    c.dwell_time = 2.123456789012;
    c.tx_enable = 1;
    c.lo_gate_length = 1200;
    c.audio_enable = 0;
    c.dac_channel0 = 5;
    c.dac_channel1 = -7;
    c.reference_level = 4095;
    c.ip_level = 2048;
    c.qp_level = 2047;
    c.test_level = 1024;
    c.test_gate_length = 500;
    c.test_gate_delay = 2000;
    const QString path = dir.path() + "/20261206183902_beam2.txt";
    {
        DataFile f;
        f.open(path);
        f.writeHeader(c, "20261206183902", 2);
        const int values[] = {12, -3, 40, 7};
        f.appendRecord(values, 4);
        f.close();
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray expected =
        "File Path = " + path.toLatin1() +
        "\r\nTime Stamp = 20261206183902\r\nIPP = 1000\r\nResolution = 150\r\n"
        "Pulse length = 1000\r\nStart time = 2000\r\nGates = 2\r\nIntegrations = 10\r\n"
        "Beam Direction = 2\r\nDwell time = 2.123456789012\r\nTx enable = 1\r\nLO gate length = "
        "1200\r\n"
        "Audio enable = 0\r\nDAC CH0 = 5\r\nDAC CH1 = -7\r\nReference Level = 4095\r\n"
        "Ip Level = 2048\r\nQp Level = 2047\r\nTest Level = 1024\r\n"
        "Test Gate Length = 500\r\nTest Gate Delay = 2000\r\n12 -3 40 7  \r\n";
    EXPECT_EQ(file.readAll(), expected);
    file.close();
    DataFile again;  // the same name within the same second appends
    again.open(path);
    again.writeHeader(c, "20261206183902", 2);
    again.close();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), expected + expected.left(expected.indexOf("12 -3")));
}

TEST(DataFile, MissingDirectoryIsAClearError) {
    DataFile f;
    try {
        f.open("/nonexistent-dir/x_beam1.txt");
        FAIL();
    } catch (const std::exception& e) {
        EXPECT_NE(std::string(e.what()).find("Cannot open data file /nonexistent-dir/x_beam1.txt"),
                  std::string::npos);
    }
    EXPECT_FALSE(f.isOpen());
}
}  // namespace
