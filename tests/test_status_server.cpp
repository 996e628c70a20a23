#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <atomic>
#include <thread>
#include <vector>

#include "acquisition/acquisition_run.h"
#include "act_when.h"
#include "app/journal_lines.h"
#include "data_file_checker.h"
#include "http_client.h"
#include "monitoring/bounded_tcp_server.h"
#include "monitoring/listen_address.h"
#include "monitoring/run_watch.h"
#include "monitoring/state_board.h"
#include "monitoring/station_watch.h"
#include "monitoring/status_server.h"
#include "monitoring/watching_operator.h"
#include "radar/dwell_moments.h"
#include "station_fixture.h"

using namespace zarv::monitoring;
using zarv::acquisition::AcquisitionRun;

namespace {

TEST(ListenAddress, APortAloneListensOnLoopbackOnly) {
    const ListenAddress port_only = ParseListenAddress(QStringLiteral("9100"));
    EXPECT_TRUE(port_only.error.isEmpty());
    EXPECT_EQ(port_only.address, QHostAddress(QHostAddress::LocalHost));
    EXPECT_EQ(port_only.port, 9100);
    EXPECT_EQ(ParseListenAddress(QStringLiteral("0.0.0.0:9100")).address,
              QHostAddress(QHostAddress::AnyIPv4));
    EXPECT_EQ(ParseListenAddress(QStringLiteral("[::1]:9100")).text(), "[::1]:9100");
    EXPECT_EQ(ParseListenAddress(QStringLiteral("localhost:80")).text(), "127.0.0.1:80");
    EXPECT_FALSE(ParseListenAddress(QStringLiteral("")).error.isEmpty());
    EXPECT_FALSE(ParseListenAddress(QStringLiteral("0")).error.isEmpty());
    EXPECT_FALSE(ParseListenAddress(QStringLiteral("1.2.3.4.5:80")).error.isEmpty());
    EXPECT_FALSE(ParseListenAddress(QStringLiteral("127.0.0.1:http")).error.isEmpty());
}

TEST(EchoHealth, TheMedianSnrOfTheTrustedGatesAlone) {
    const auto gate = [](bool valid, double snr_db) {
        zarv::radar::SpectralMoments m;
        m.valid = valid;
        m.snr_db = snr_db;
        return m;
    };
    using zarv::radar::EchoHealthOf;
    const auto odd = EchoHealthOf({gate(true, 3), gate(false, 40), gate(true, -1), gate(true, 9)});
    EXPECT_EQ(odd.gates, 4);
    EXPECT_EQ(odd.trusted, 3);
    EXPECT_DOUBLE_EQ(odd.median_snr_db, 3);
    const auto even = EchoHealthOf({gate(true, 8), gate(true, 2), gate(true, 20), gate(true, 4)});
    EXPECT_DOUBLE_EQ(even.median_snr_db, 6);
    const auto none = EchoHealthOf({gate(false, 12), gate(false, 30)});
    EXPECT_EQ(none.gates, 2);
    EXPECT_EQ(none.trusted, 0);
}

TEST(SameSecret, EqualOnlyWhenEveryByteAndTheLengthAgree) {
    EXPECT_TRUE(SameSecret("s3cret", "s3cret"));
    EXPECT_FALSE(SameSecret("s3cret", "s3cre"));
    EXPECT_FALSE(SameSecret("s3cret", "s3cret!"));
    EXPECT_FALSE(SameSecret("s3cret", "S3cret"));
    EXPECT_FALSE(SameSecret("", "x"));
    EXPECT_FALSE(SameSecret("abc", QByteArray("abc\0", 4)));  // a NUL is no end here
}

// A server on a free loopback port over a board the test fills.
class StatusServerTest : public ::testing::Test {
  protected:
    void serve(const QByteArray& token = {}) {
        server = MakeStatusServer(board);
        ListenAddress where;
        where.address = QHostAddress(QHostAddress::LocalHost);
        ASSERT_EQ(server->start(where, token), QString());
        port = server->port();
        ASSERT_NE(port, 0);
    }
    StateBoard board;
    std::unique_ptr<StatusServer> server;
    quint16 port = 0;
};

// What promtool, Prometheus' own checker, says of the text; empty: nothing.
QString PromtoolComplaints(const QByteArray& metrics) {
    const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
    if (promtool.isEmpty()) return QStringLiteral("promtool is not installed");
    QProcess check;
    check.start(promtool, {QStringLiteral("check"), QStringLiteral("metrics")});
    check.write(metrics);
    check.closeWriteChannel();
    if (!check.waitForFinished(30000)) return QStringLiteral("promtool did not finish");
    const QString said =
        QString::fromUtf8(check.readAllStandardOutput() + check.readAllStandardError());
    return check.exitCode() == 0 && said.trimmed().isEmpty() ? QString() : said;
}

TEST_F(StatusServerTest, EveryEndpointAnswersFromTheBoard) {
    board.change([](StationState& s) {
        s.version = QStringLiteral("1.2.3");
        s.phase = QStringLiteral("dwell");
        s.beam = 2;
        s.dwells = 7;
        s.records_written = {100, 200, 300};
        s.dwell_records = 5;
        s.records_missing = {0, 3, 0};
        s.free_bytes = 2'000'000'000;
        s.hours_left = 0.5;
        s.disk_warning = QStringLiteral("less than an hour of recording left");
        s.disk_low = 2;
        s.echo_gates = {8, 0, 6};
        s.echo_trusted = {4, 0, 0};
        s.echo_snr_db = {10, 0, 0};
        s.file_path = QStringLiteral("data/2026/12/08/17/20261208170000_beam2.txt");
    });
    board.addLogLine(QStringLiteral("08/12/26 17:00:00: Starting trigger on beam direction: 2"));
    board.addError(QStringLiteral("<b>Zarv not found!</b>"));
    serve();

    const HttpReply metrics = Get(port, "/metrics");
    ASSERT_EQ(metrics.status, 200);
    EXPECT_TRUE(metrics.head.contains("text/plain; version=0.0.4")) << metrics.head.toStdString();
    EXPECT_TRUE(metrics.body.contains("\nzarv_records_written_total{beam=\"2\"} 205\n"));
    EXPECT_TRUE(metrics.body.contains("\nzarv_records_missing_total{beam=\"2\"} 3\n"));
    EXPECT_TRUE(metrics.body.contains("\nzarv_dwells_total 7\n"));
    EXPECT_TRUE(metrics.body.contains("\nzarv_recording 1\n"));
    EXPECT_TRUE(metrics.body.contains("\nzarv_data_remaining_seconds 1800\n"));
    // One series per state of the disk: an alert matches one state alone.
    EXPECT_TRUE(metrics.body.contains("\nzarv_data_space_state{state=\"ample\"} 0\n"));
    EXPECT_TRUE(metrics.body.contains("\nzarv_data_space_state{state=\"under_a_day\"} 0\n"));
    EXPECT_TRUE(metrics.body.contains("\nzarv_data_space_state{state=\"under_an_hour\"} 1\n"));
    // Beam 1 saw 4 of 8 gates with a median SNR of 10 dB; beam 3 nothing.
    EXPECT_TRUE(metrics.body.contains("\nzarv_echo_gates_trusted_ratio{beam=\"1\"} 0.5\n"));
    EXPECT_TRUE(metrics.body.contains("\nzarv_echo_snr_median_ratio{beam=\"1\"} 10\n"));
    EXPECT_TRUE(metrics.body.contains("\nzarv_echo_gates_trusted_ratio{beam=\"3\"} 0\n"));
    EXPECT_FALSE(metrics.body.contains("zarv_echo_snr_median_ratio{beam=\"3\"}"));
    EXPECT_FALSE(
        metrics.body.contains("zarv_echo_gates_trusted_ratio{beam=\"2\"}"));  // no dwell yet
    // A restart shows as a new start time: this process's, a moment ago.
    const qsizetype at = metrics.body.indexOf("\nprocess_start_time_seconds ");
    ASSERT_GE(at, 0);
    const double started = metrics.body.mid(at + 28, 30).split('\n').first().toDouble();
    const double now = static_cast<double>(QDateTime::currentSecsSinceEpoch());
    EXPECT_LE(started, now + 1);
    EXPECT_GT(started, now - 24 * 3600);
    for (const char* family : {"process_cpu_seconds_total ", "process_resident_memory_bytes ",
                               "process_open_fds ", "process_max_fds "})
        EXPECT_TRUE(metrics.body.contains(QByteArray("\n") + family)) << family;
    EXPECT_TRUE(metrics.body.contains("zarv_build_info{version=\"1.2.3\"} 1\n"));
    EXPECT_EQ(PromtoolComplaints(metrics.body), QString());

    const HttpReply json = Get(port, "/status.json");
    ASSERT_EQ(json.status, 200);
    const QJsonObject status = QJsonDocument::fromJson(json.body).object();
    EXPECT_EQ(status["phase"].toString(), "dwell");
    EXPECT_EQ(status["dwell"].toObject()["beam"].toInt(), 2);
    EXPECT_EQ(status["dwell"].toObject()["file"].toString(),
              "data/2026/12/08/17/20261208170000_beam2.txt");
    EXPECT_EQ(status["totals"].toObject()["records_written"].toArray()[1].toInt(), 205);
    EXPECT_EQ(status["last_errors"].toArray()[0].toString(), "<b>Zarv not found!</b>");

    const HttpReply page = Get(port, "/");
    ASSERT_EQ(page.status, 200);
    EXPECT_TRUE(page.head.contains("text/html"));
    EXPECT_TRUE(page.body.contains("id=\"glance\">recording<"));
    EXPECT_TRUE(page.body.contains("&lt;b&gt;Zarv not found!&lt;/b&gt;"));  // shown, not obeyed
    EXPECT_FALSE(page.body.contains("http://") || page.body.contains("https://"));

    EXPECT_FALSE(page.body.contains("<img"));
    EXPECT_EQ(Get(port, "/rti.png").status, 404);  // no radar view open
    const QByteArray png("\x89PNG\r\n\x1a\n fake", 13);
    board.change([&](StationState& s) {
        s.picture_png = png;
        s.picture_at = QDateTime::currentDateTimeUtc();
    });
    EXPECT_TRUE(Get(port, "/").body.contains("<img src=\"rti.png?"));
    const HttpReply picture = Get(port, "/rti.png");
    EXPECT_EQ(picture.status, 200);
    EXPECT_TRUE(picture.head.contains("image/png"));
    EXPECT_EQ(picture.body, png);

    EXPECT_EQ(Get(port, "/nothing").status, 404);
    EXPECT_EQ(SendRaw(port,
                      "POST /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n"
                      "Connection: close\r\n\r\nhi")
                  .status,
              405);
}

TEST_F(StatusServerTest, WithATokenOnlyRequestsThatBringItAreAnswered) {
    serve("abc 1;23");
    EXPECT_EQ(Get(port, "/metrics").status, 401);
    EXPECT_EQ(Get(port, "/", "Authorization: Bearer abc 1;2\r\n").status, 401);
    EXPECT_EQ(Get(port, "/?token=abc%201%3B234").status, 401);
    EXPECT_EQ(Get(port, "/metrics", "Authorization: Bearer abc 1;23\r\n").status, 200);
    EXPECT_EQ(Get(port, "/metrics", "Authorization: bEARER abc 1;23\r\n").status, 200);
    EXPECT_EQ(Get(port, "/metrics", "Authorization: Basic abc 1;23\r\n").status, 401);
    EXPECT_EQ(Get(port, "/metrics", "Cookie: zarv_token=abc%201%3B2\r\n").status, 401);
}

// A browser that opens /?token=T keeps the token as the cookie the page sets:
// the picture, the links and the page's refresh are answered without it in
// their addresses.
TEST_F(StatusServerTest, APageLoadedWithTheTokenLetsItsPictureAndLinksIn) {
    board.change([](StationState& s) {
        s.picture_png = QByteArray("\x89PNG\r\n\x1a\n", 8);
        s.picture_at = QDateTime::currentDateTimeUtc();
    });
    serve("abc 1;23");
    const HttpReply page = Get(port, "/?token=abc%201%3B23");
    ASSERT_EQ(page.status, 200);
    const qsizetype at = page.head.indexOf("Set-Cookie: ");
    ASSERT_GE(at, 0) << page.head.toStdString();
    const QByteArray cookie = page.head.mid(at + 12).split('\r').first();
    EXPECT_TRUE(cookie.contains("HttpOnly") && cookie.contains("SameSite=Strict"));
    const QByteArray sent = "Cookie: theme=dark; " + cookie.split(';').first() + "\r\n";
    for (const char* link : {"/rti.png", "/metrics", "/status.json", "/"})
        EXPECT_EQ(Get(port, link, sent).status, 200) << link;
    EXPECT_FALSE(Get(port, "/", sent).head.contains("Set-Cookie"));
}

// Reads from fd until what came ends with last, the server closes it or the time-out.
QByteArray ReadUntil(int fd, const QByteArray& last) {
    QByteArray all;
    char buffer[8192];
    for (ssize_t n; !all.endsWith(last) && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
        all.append(buffer, n);
    return all;
}

TEST_F(StatusServerTest, AHeadAnswerHasTheLengthButNoBodySoTheNextRequestIsReadWhereItBegins) {
    serve();
    const int fd = ConnectLocal(port);
    ASSERT_GE(fd, 0);
    const QByteArray requests =
        "HEAD / HTTP/1.1\r\nHost: x\r\n\r\n"
        "GET /nothing HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
    ASSERT_EQ(::send(fd, requests.constData(), static_cast<size_t>(requests.size()), MSG_NOSIGNAL),
              requests.size());
    const QByteArray all = ReadUntil(fd, "not found\n");
    ::close(fd);
    const qsizetype end_of_head = all.indexOf("\r\n\r\n");
    ASSERT_GT(end_of_head, 0) << all.toStdString();
    EXPECT_TRUE(all.startsWith("HTTP/1.1 200"));
    EXPECT_FALSE(all.left(end_of_head).contains("Content-Length: 0"));
    EXPECT_TRUE(all.mid(end_of_head + 4).startsWith("HTTP/1.1 404")) << all.toStdString();
    EXPECT_TRUE(all.endsWith("not found\n"));
}

// Clients that trickle a request's headers in, a line at a time, are dropped
// at the request deadline: they cannot keep the connection slots from others.
TEST_F(StatusServerTest, SlowSendersCannotHoldEverySlot) {
    serve();
    std::vector<int> slow;
    for (int i = 0; i < StatusServer::kMostConnections; ++i) {
        const int fd = ConnectLocal(port);
        ASSERT_GE(fd, 0);
        ::send(fd, "GET / HTTP/1.1\r\n", 16, MSG_NOSIGNAL);
        slow.push_back(fd);
    }
    QElapsedTimer since;
    since.start();
    int answered = 0;
    while (answered == 0 && since.elapsed() < 4 * StatusServer::kRequestDeadlineMs) {
        for (const int fd : slow) ::send(fd, "X-Slow: 1\r\n", 11, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (Get(port, "/metrics").status == 200) ++answered;
        QThread::msleep(500);
    }
    EXPECT_EQ(answered, 1);
    int closed = 0;
    for (const int fd : slow) {
        ::shutdown(fd, SHUT_WR);
        char byte;
        if (::recv(fd, &byte, 1, 0) <= 0) ++closed;
        ::close(fd);
    }
    EXPECT_EQ(closed, StatusServer::kMostConnections);
}

// A port still held (by the station's previous run, say) comes free: the server
// listens then, and says so.
TEST(StatusServerStart, ABusyPortIsTriedAgainUntilItIsFree) {
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::LocalHost, 0));
    const quint16 busy = holder.serverPort();
    RecorderOperator op;
    StationWatch watch(op);
    QStringList notes;
    watch.setNoteTaker([&](const QString& note) { notes << note; });
    const QString first = watch.serveAsAsked(QString::number(busy), {}, {});
    EXPECT_TRUE(
        first.startsWith(QStringLiteral("Status server cannot listen on 127.0.0.1:%1: ").arg(busy)))
        << first.toStdString();
    EXPECT_TRUE(first.endsWith("it tries again, less often each time")) << first.toStdString();
    EXPECT_TRUE(watch.serving());
    EXPECT_EQ(watch.port(), 0);
    holder.close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !notes.isEmpty(); }, 20'000));
    EXPECT_EQ(
        notes,
        QStringList{QStringLiteral("At last: Status server on http://127.0.0.1:%1/").arg(busy)});
    EXPECT_EQ(watch.port(), busy);
    EXPECT_EQ(Get(busy, "/metrics").status, 200);
}

TEST(StatusServerStart, ServingBeyondLoopbackWithoutATokenIsAWarning) {
    QTcpServer probe;  // a port that is free now
    ASSERT_TRUE(probe.listen(QHostAddress::AnyIPv4, 0));
    const quint16 free_port = probe.serverPort();
    probe.close();
    RecorderOperator op;
    StationWatch watch(op);
    const QString note = watch.serveAsAsked(QStringLiteral("0.0.0.0:%1").arg(free_port), {}, {});
    EXPECT_EQ(note, QStringLiteral("Status server on http://0.0.0.0:%1/ with no token: anyone who "
                                   "can reach it reads the station's state (status_token_file "
                                   "asks for one)")
                        .arg(free_port));
    EXPECT_EQ(zarv::app::JournalPriority(note, zarv::app::LineKind::Log), 4);
    EXPECT_EQ(watch.serveAsAsked(QStringLiteral("%1").arg(free_port), {}, {}),
              QStringLiteral("Status server on http://127.0.0.1:%1/").arg(free_port));
}

TEST_F(StatusServerTest, OversizedAndMalformedRequestsAreDroppedAndServingGoesOn) {
    serve();
    const QByteArray huge(StatusServer::kMostRequestBytes * 4, 'x');
    EXPECT_NE(SendRaw(port, "GET /metrics HTTP/1.1\r\nX-Big: " + huge + "\r\n\r\n").status, 200);
    EXPECT_NE(SendRaw(port, "GET / HTTP/1.1\r\nContent-Length: 100000000\r\n\r\n" + huge).status,
              200);
    EXPECT_EQ(SendRaw(port, "NONSENSE\r\n\r\n").status, 0);
    // Half a TLS hello, then the client goes: the server waits for no one.
    const int tls = ConnectLocal(port);
    ASSERT_GE(tls, 0);
    ::send(tls, "\x16\x03\x01\x02\x00\x01", 6, MSG_NOSIGNAL);
    ::close(tls);
    EXPECT_EQ(Get(port, "/metrics").status, 200);
}

TEST_F(StatusServerTest, ConnectionsPastTheLimitAreClosedAndTheServerRecovers) {
    serve();
    std::vector<int> held;
    for (int i = 0; i < StatusServer::kMostConnections + 20; ++i) {
        const int fd = ConnectLocal(port);
        if (fd >= 0) held.push_back(fd);
    }
    // The ones past the limit are closed by the server: a read sees their end.
    int closed = 0;
    for (std::size_t i = StatusServer::kMostConnections; i < held.size(); ++i) {
        char byte;
        if (::recv(held[i], &byte, 1, 0) == 0) ++closed;
    }
    EXPECT_EQ(closed, 20);
    for (const int fd : held) ::close(fd);
    bool served = false;
    for (int attempt = 0; attempt < 50 && !served; ++attempt) {
        served = Get(port, "/metrics").status == 200;
        if (!served) QThread::msleep(20);
    }
    EXPECT_TRUE(served);
}

TEST(BoundedTcpServerTest, AnIdleClientIsDroppedAndOneThatTalksIsKept) {
    BoundedTcpServer server(4, 1024, 300, 60'000, nullptr);
    // Taken from the server as the HTTP server takes them; they stay its children.
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (server.hasPendingConnections()) server.nextPendingConnection();
    });
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QTcpSocket idle;
    QTcpSocket talking;
    for (QTcpSocket* client : {&idle, &talking}) {
        client->connectToHost(QHostAddress::LocalHost, server.serverPort());
        ASSERT_TRUE(client->waitForConnected(5000));
    }
    // The talking client sends a byte every 50 ms: each resets its idle time.
    QElapsedTimer since;
    since.start();
    while (since.elapsed() < 400) {
        talking.write("x");
        talking.flush();
        QTest::qWait(50);
    }
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return idle.state() == QAbstractSocket::UnconnectedState; }, 5000));
    EXPECT_EQ(talking.state(), QAbstractSocket::ConnectedState);
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.liveConnections() == 1; }, 5000));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return talking.state() == QAbstractSocket::UnconnectedState; }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.liveConnections() == 0; }, 5000));
}

// The station at its heaviest, watched by a hundred clients at once.
class WatchedRunTest : public StationFixture {};

TEST_F(WatchedRunTest, AHundredClientsAtOnceCostNoRecord) {
    writeConfig(DefaultConfigText(path("data"))
                    .replace("ipp=1000", "ipp=100")
                    .replace("gates=4", "gates=36")
                    .replace("integrations=10", "integrations=1")
                    .replace("dwell_time=0.6", "dwell_time=1.2"));
    station->config.ReadConfig();
    AcquisitionRun run(station->log, station->session, station->config);
    StateBoard board;
    RunWatch watch(board, run, station->session);
    auto server = MakeStatusServer(board);
    ListenAddress where;
    where.address = QHostAddress(QHostAddress::LocalHost);
    ASSERT_EQ(server->start(where, {}), QString());

    std::atomic<bool> done{false};
    std::atomic<int> answered{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < 100; ++i)
        clients.emplace_back([&, i] {
            const QByteArray path = i % 3 == 0 ? "/" : i % 3 == 1 ? "/metrics" : "/status.json";
            while (!done) {
                if (Get(server->port(), path).status == 200) ++answered;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    const auto stop = [&] { run.stop(); };
    ActWhen dwell_over([&] { return sim->triggerStarts() >= 1 && !sim->programmed().triggering; },
                       stop, stop);
    run.start();
    done = true;
    for (std::thread& client : clients) client.join();

    EXPECT_GT(answered.load(), 100);
    const auto blocks = ReadDwellBlocks(path("data"));
    ASSERT_GE(blocks.size(), 1u);
    const double frames = 1.2 / (6000 / 60e6);
    EXPECT_GE(blocks[0].records.size(), static_cast<int>(0.98 * frames));
    EXPECT_EQ(MismatchedRecords(blocks[0], 36, 1, 6000), 0);
    EXPECT_EQ(op.messages().filter("Data lost").size(), 0);
    EXPECT_EQ(sim->overrunBytes(), 0u);
    // What the board counted is what the file holds.
    const StationState state = board.snapshot();
    EXPECT_EQ(state.dwells, 1);
    EXPECT_EQ(state.records_written[0], blocks[0].records.size());
    EXPECT_EQ(state.records_missing[0], 0);
}

TEST_F(WatchedRunTest, TheCountersOnlyRiseFromDwellToDwell) {
    // Four dwells, beam 1 twice, with framing errors in the first: every
    // counter, looked at as often as the run lets the GUI thread run, only rises.
    writeConfig(DefaultConfigText(path("data")).replace("dwell_time=0.6", "dwell_time=0.3"));
    for (int k = 0; k < 3; ++k) sim->dropStreamBytes(3000 + k * 1480, 1);
    // Watched as the station is: its operator copies the status line to the board.
    StateBoard board;
    WatchingOperator watching(op, board);
    station.reset();
    Station watched(watching, *sim, [this] { return clock(); });
    watched.config.free_space = AmpleSpace;
    watched.config.start_dir = dir.path();
    watched.config.ReadConfig();
    AcquisitionRun run(watched.log, watched.session, watched.config);
    RunWatch watch(board, run, watched.session);
    using Counters = std::array<std::int64_t, 9>;
    const auto counters = [&] {
        const StationState s = board.snapshot();
        return Counters{s.recordsWritten(1),
                        s.recordsWritten(2),
                        s.recordsWritten(3),
                        s.records_missing[0],
                        s.records_missing[1],
                        s.records_missing[2],
                        s.dwells,
                        s.framing_errors,
                        s.bytes_lost};
    };
    Counters last = counters();
    int looks = 0;
    QStringList went_back;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        watch.look();  // as its own timer does, only more often than a short dwell lasts
        const Counters now = counters();
        ++looks;
        for (std::size_t i = 0; i < now.size(); ++i)
            if (now[i] < last[i])
                went_back
                    << QStringLiteral("counter %1: %2 after %3").arg(i).arg(now[i]).arg(last[i]);
        last = now;
    });
    look.start(1);
    const auto stop = [&] { run.stop(); };
    ActWhen four([&] { return sim->triggerStarts() >= 4 && !sim->programmed().triggering; }, stop,
                 stop);
    run.start();
    EXPECT_TRUE(went_back.isEmpty()) << went_back.join('\n').toStdString();
    EXPECT_GT(looks, 4);
    const Counters end = counters();
    EXPECT_EQ(end[6], 4);  // dwells
    EXPECT_EQ(end[7], 3);  // framing errors
    const auto blocks = ReadDwellBlocks(path("data"));
    ASSERT_EQ(blocks.size(), 4u);
    // Files come back in name order, and a beam's second dwell may share its
    // first one's file: the beam each block names decides where it counts.
    std::array<std::int64_t, 3> in_files{};
    for (const DwellBlock& b : blocks) in_files.at(b.beam - 1) += b.records.size();
    EXPECT_EQ(end[0], in_files[0]);
    EXPECT_EQ(end[1], in_files[1]);
    EXPECT_EQ(end[2], in_files[2]);
}

TEST(StationWatch, AStationServesOnlyWhereItIsAskedAndSaysWhere) {
    RecorderOperator op;
    StationWatch watch(op);
    EXPECT_EQ(watch.serveAsAsked({}, {}, {}), QString());  // nowhere asked: off
    EXPECT_EQ(watch.port(), 0);
    EXPECT_EQ(watch.serveAsAsked({}, QStringLiteral("70000"), {}),
              "Status server: status_listen '70000' needs a port from 1 to 65535");
    EXPECT_EQ(watch.serveAsAsked({}, QStringLiteral("9"), QStringLiteral("/no/such/token")),
              "Status server: cannot read the token file /no/such/token: No such file or "
              "directory");
    // What the operator is shown reaches the board on its way.
    watch.op().appendLogLine(QStringLiteral("a line"));
    watch.op().setStatusText(QStringLiteral("FE 0"));
    EXPECT_EQ(op.log.size(), 1);
    EXPECT_EQ(watch.board().snapshot().last_log_lines, QStringList{"a line"});
    EXPECT_EQ(watch.board().snapshot().status_text, "FE 0");
}

}  // namespace
