#include <gtest/gtest.h>
#include <QAccessible>
#include <QChartView>

#include <QTest>

#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QValueAxis>

#include "acquisition/graph_capture.h"
#include "views/graph_form.h"

using namespace zarv::acquisition;
using namespace zarv::views;

namespace {
// Feeds records of the given number of gates; every value is its record index.
void feedRecords(GraphCapture& g, int records, int gates, std::int32_t period) {
    for (int r = 0; r < records; ++r)
        for (int p = 0; p < 2 * gates; ++p) g.AddGraphValue(p, r * 10 + p, period);
}

TEST(GraphCapture, XPositionsPutQpOneRecordLater) {
    GraphCapture g;
    g.renew();
    feedRecords(g, 3, 2, 1000 * 10);
    ASSERT_EQ(g.ipPoints().size(), 3u);
    ASSERT_EQ(g.qpPoints().size(), 3u);
    EXPECT_EQ(g.ipPoints()[0], QPointF(0, 2));
    EXPECT_EQ(g.ipPoints()[2], QPointF(20, 22));
    EXPECT_EQ(g.qpPoints()[0], QPointF(10, 3));
    EXPECT_EQ(g.qpPoints()[2], QPointF(30, 23));
}

// A point's x is T times its graph_count, wrapped to 32 bits of microseconds,
// with the T its record came with: a new period mid-capture, and a window
// taking the points from the middle of one.
TEST(GraphCapture, XFollowsEachRecordsPeriodAndWrapsAsAlways) {
    GraphCapture g;
    g.setPointsText("5000");
    g.renew();
    std::vector<int> values(4 * 6);
    for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<int>(i);
    g.addRecords(values.data(), 4, 3, 1000);
    g.addRecords(&values[12], 4, 2, 2000);
    g.AddGraphRecord(&values[20], 4, 2000);
    const auto x = [](std::int64_t period, std::int64_t count) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(period * count)) / 1000.0;
    };
    const std::vector<QPointF> ip{{x(1000, 0), 2},  {x(1000, 1), 6},  {x(1000, 2), 10},
                                  {x(2000, 3), 14}, {x(2000, 4), 18}, {x(2000, 5), 22}};
    const std::vector<QPointF> qp{{x(1000, 1), 3},  {x(1000, 2), 7},  {x(1000, 3), 11},
                                  {x(2000, 4), 15}, {x(2000, 5), 19}, {x(2000, 6), 23}};
    EXPECT_EQ(g.ipPoints(), ip);
    EXPECT_EQ(g.qpPoints(), qp);
    std::vector<QPointF> ip_tail, qp_tail;
    g.copyPoints(2, 4, ip_tail, qp_tail);
    EXPECT_EQ(ip_tail, std::vector<QPointF>(ip.begin() + 2, ip.end()));
    EXPECT_EQ(qp_tail, std::vector<QPointF>(qp.begin() + 4, qp.end()));

    // 2 s records: the 1074th passes 2^31 microseconds and goes negative.
    g.renew();
    std::vector<int> many(4 * 1100, 1);
    g.addRecords(many.data(), 4, 1100, 2'000'000);
    const auto points = g.ipPoints();
    ASSERT_EQ(points.size(), 1100u);
    EXPECT_EQ(points[1073].x(), x(2'000'000, 1073));
    EXPECT_EQ(points[1074].x(), x(2'000'000, 1074));
    EXPECT_LT(points[1074].x(), 0);
}

TEST(GraphCapture, FullCaptureStandsStill) {
    GraphCapture g;
    g.renew();
    feedRecords(g, 150, 2, 1000);
    EXPECT_EQ(g.ipPoints().size(), 100u);
    EXPECT_EQ(g.qpPoints().size(), 99u);
    EXPECT_FALSE(g.graphLive());
    EXPECT_EQ(g.graphCount(), 100);
}

// The decoder hands a chunk's records over at once: the points, the limit met
// inside a batch, and the qp point the last record loses, are as one by one.
TEST(GraphCapture, RecordsInBatchesGiveTheSamePointsAsOneByOne) {
    for (const char* gate : {"2", "1", "3", "4"}) {
        GraphCapture one, batched;
        for (GraphCapture* g : {&one, &batched}) {
            g->setGateText(gate);
            g->setPointsText("250");
            g->renew();
        }
        std::vector<int> values(6 * 400);
        for (std::size_t i = 0; i < values.size(); ++i) values[i] = static_cast<int>(i) - 700;
        for (int r = 0; r < 400; ++r) one.AddGraphRecord(&values[6 * std::size_t(r)], 6, 250);
        for (int at = 0; at < 400; at += 97)
            batched.addRecords(&values[6 * std::size_t(at)], 6, std::min(97, 400 - at), 250);
        EXPECT_EQ(batched.ipPoints(), one.ipPoints()) << "gate " << gate;
        EXPECT_EQ(batched.qpPoints(), one.qpPoints()) << "gate " << gate;
        EXPECT_EQ(batched.graphLive(), one.graphLive());
        EXPECT_EQ(one.ipPoints().size(), std::string(gate) == "4" ? 0u : 250u);
    }
}

TEST(GraphCapture, GateOutOfRangeNeverFills) {
    GraphCapture g;
    g.renew();
    g.setGateText("9");
    feedRecords(g, 200, 2, 1000);
    EXPECT_TRUE(g.ipPoints().empty());
    EXPECT_TRUE(g.graphLive());
}

TEST(GraphCapture, TextThatIsNotAWholeNumberPlotsNothing) {
    GraphCapture g;
    g.renew();
    g.setPointsText("");
    feedRecords(g, 5, 2, 1000);
    g.setPointsText("100");
    g.setGateText("x");
    feedRecords(g, 5, 2, 1000);
    EXPECT_TRUE(g.ipPoints().empty());
    g.setGateText("1");
    feedRecords(g, 2, 2, 1000);
    EXPECT_EQ(g.ipPoints().size(), 2u);
}

TEST(GraphCapture, LoweringPointsEndsTheCaptureAndRefreshRestarts) {
    GraphCapture g;
    g.renew();
    feedRecords(g, 10, 2, 1000);
    g.setPointsText("5");
    g.AddGraphValue(0, 1, 1000);
    EXPECT_FALSE(g.graphLive());
    g.renew();
    EXPECT_TRUE(g.graphLive());
    EXPECT_TRUE(g.ipPoints().empty());
    feedRecords(g, 1, 2, 1000);
    EXPECT_EQ(g.ipPoints()[0].x(), 0.0);
}

TEST(GraphCapture, ACaptureIsDatedByItsFirstSample) {
    GraphCapture g;
    g.renew();
    EXPECT_FALSE(g.state().first_sample.isValid());  // a Refresh alone dates nothing
    feedRecords(g, 3, 2, 1000);
    const QTime first = g.state().first_sample;
    ASSERT_TRUE(first.isValid());
    feedRecords(g, 3, 2, 1000);
    EXPECT_EQ(g.state().first_sample, first);  // later samples keep it
    g.renew();
    EXPECT_FALSE(g.state().first_sample.isValid());
}

TEST(GraphCapture, NothingBeforeTheWindowIsCreated) {
    GraphCapture g;  // graph_live stays false until the main window has been made
    feedRecords(g, 5, 2, 1000);
    EXPECT_TRUE(g.ipPoints().empty());
}

TEST(GraphForm, TheBoxesTakeOnlyWhatTheCaptureCanUseAndEscapeCloses) {
    GraphCapture g;
    TGraphForm form(g);
    form.show();
    form.points_box->clear();
    QTest::keyClicks(form.points_box, "abc-1");
    EXPECT_EQ(form.points_box->text(), "1");
    form.gate_box->clear();
    QTest::keyClicks(form.gate_box, "x4");
    EXPECT_EQ(form.gate_box->text(), "4");
    QTest::keyClick(&form, Qt::Key_Escape);
    EXPECT_FALSE(form.isVisible());
}

TEST(GraphForm, ShowsTheCaptureInTheSeries) {
    GraphCapture g;
    g.renew();
    TGraphForm form(g);
    EXPECT_EQ(form.windowTitle(), "Graph");
    EXPECT_EQ(form.points_box->text(), "100");
    EXPECT_EQ(form.gate_box->text(), "2");
    EXPECT_EQ(form.renew_btn->text(), "Refresh");
    EXPECT_EQ(form.ip_series->name(), "ip series");
    EXPECT_EQ(form.qp_series->color(), QColor(Qt::green));
    form.gate_box->setText("1");
    feedRecords(g, 4, 2, 2000);
    form.refreshChart();
    EXPECT_EQ(form.ip_series->count(), 4);
    EXPECT_EQ(form.qp_series->count(), 4);
    EXPECT_EQ(form.ip_series->at(3), QPointF(6, 30));
    EXPECT_GE(form.axis_x->max(), 8.0);
    // A screen reader hears the newest values, not just "a chart".
    QAccessibleInterface* chart = QAccessible::queryAccessibleInterface(form.chart_view);
    ASSERT_NE(chart, nullptr);
    EXPECT_EQ(chart->text(QAccessible::Description), "newest ip 30 and qp 31 at 6.0 ms");
    form.renew_btn->click();
    EXPECT_EQ(form.ip_series->count(), 0);
}
}  // namespace
