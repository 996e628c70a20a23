#include "graph_form.h"

#include <QChart>
#include <QChartView>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>

#include "accessible_values.h"
#include "acquisition/graph_capture.h"
#include "acquisition/stream_decoder.h"

namespace zarv::views {

using namespace zarv::acquisition;

namespace {
constexpr int kMarkedPointsMax = 200;

QLineSeries* makeSeries(const QString& title, const QColor& colour) {
    auto* series = new QLineSeries;
    series->setName(title);
    series->setColor(colour);
    series->setPointsVisible(true);
    series->setMarkerSize(1);
    return series;
}

// Round ticks from 0 (x) or from a multiple of the step (y).
void setNiceAxis(QValueAxis* axis, double low, double high, bool keep_range) {
    const double step = NiceTickInterval(high - low, 8);
    if (!keep_range) {
        low = std::floor(low / step) * step;
        high = std::ceil(high / step) * step;
    }
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0);
    axis->setTickInterval(step);
    axis->setRange(low, high);
}
}  // namespace

TGraphForm::TGraphForm(GraphCapture& capture, QWidget* parent)
    : QWidget(parent, Qt::Window), capture_(capture) {
    setWindowTitle(QStringLiteral("Graph"));
    NameAsWindow(this);
    resize(942, 540);
    buildChart();
    buildControls();

    refresh_timer_ = new QTimer(this);
    refresh_timer_->setInterval(100);
    connect(refresh_timer_, &QTimer::timeout, this, [this] {
        if (isVisible()) refreshChart();
    });
    refresh_timer_->start();
}

void TGraphForm::buildChart() {
    Chart1 = new QChart;
    Chart1->setTitle(QStringLiteral("Time series data"));
    Chart1->setBackgroundBrush(Qt::white);
    Chart1->legend()->setAlignment(Qt::AlignLeft);
    ip_series = makeSeries(QStringLiteral("ip series"), Qt::red);
    qp_series = makeSeries(QStringLiteral("qp series"), Qt::green);
    Chart1->addSeries(ip_series);
    Chart1->addSeries(qp_series);
    axis_x = new QValueAxis;
    axis_x->setTitleText(QStringLiteral("Time [ms] ---->"));
    axis_x->setMinorTickCount(4);
    axis_y = new QValueAxis;
    axis_y->setTitleText(QStringLiteral("Counts ----->"));
    axis_y->setMinorTickCount(4);
    Chart1->addAxis(axis_x, Qt::AlignBottom);
    Chart1->addAxis(axis_y, Qt::AlignLeft);
    for (QLineSeries* s : {ip_series, qp_series}) {
        s->attachAxis(axis_x);
        s->attachAxis(axis_y);
    }
    chart_view = new QChartView(Chart1, this);
}

void TGraphForm::buildControls() {
    points_box = new QLineEdit(QStringLiteral("100"), this);
    gate_box = new QLineEdit(QStringLiteral("2"), this);
    renew_btn = new QPushButton(QStringLiteral("Refresh"), this);
    info_label = new QLabel(this);
    auto* controls = new QHBoxLayout;
    // Alt+P and Alt+G reach the boxes through their labels.
    points_label = new QLabel(QStringLiteral("&Points"), this);
    points_label->setBuddy(points_box);
    gate_label = new QLabel(QStringLiteral("&Gate"), this);
    gate_label->setBuddy(gate_box);
    // Only what the capture can use: a whole number of points, a gate a frame has.
    points_box->setValidator(new QIntValidator(1, std::numeric_limits<int>::max(), points_box));
    gate_box->setValidator(new QIntValidator(1, acquisition::StreamDecoder::kMaxGates, gate_box));
    points_box->setAccessibleName(QStringLiteral("Points"));
    gate_box->setAccessibleName(QStringLiteral("Gate"));
    renew_btn->setAccessibleName(QStringLiteral("Refresh"));
    NameValueLabel(info_label, QStringLiteral("Capture"));
    chart_view->setAccessibleName(QStringLiteral("ip and qp of the gate"));
    controls->addWidget(points_label);
    controls->addWidget(points_box);
    controls->addWidget(gate_label);
    controls->addWidget(gate_box);
    controls->addWidget(renew_btn);
    controls->addWidget(info_label, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(chart_view, 1);
    layout->addLayout(controls);

    capture_.setPointsText(points_box->text());
    capture_.setGateText(gate_box->text());
    connect(points_box, &QLineEdit::textChanged, this,
            [this](const QString& t) { capture_.setPointsText(t); });
    connect(gate_box, &QLineEdit::textChanged, this,
            [this](const QString& t) { capture_.setGateText(t); });
    connect(renew_btn, &QPushButton::clicked, this, &TGraphForm::renew_btnClick);
}

void TGraphForm::renew_btnClick() {
    capture_.renew();
    refreshChart();
}

void TGraphForm::refreshChart() {
    const GraphCapture::State state = capture_.state();
    const std::int32_t points = state.points.value_or(std::max(state.count, 1));
    const double x_max = std::max(1.0, double(std::max(points, 1)) * state.record_period_us / 1000);
    bool changed = false;
    if (state.capture != shown_capture_ || x_max != ip_plot_.xMax()) {
        // A new capture, or a new time axis: start the drawing over.
        shown_capture_ = state.capture;
        ip_plot_.reset(x_max);
        qp_plot_.reset(x_max);
        ip_taken_ = qp_taken_ = 0;
        has_newest_ = false;
        setNiceAxis(axis_x, 0, x_max, true);
        changed = true;
    }
    if (takeNewPoints() || changed) showPlots();
    showInfo(state.live, state.count, state.first_sample);
    describeNewest(state.live);
}

// The newest ip and qp for a screen reader, at most twice a second while the
// capture runs and once more when it stands still.
void TGraphForm::describeNewest(bool live) {
    if (live && described_.isValid() && described_.elapsed() < kDescribeEveryMs) return;
    const QString text = !has_newest_ ? QString()
                                      : QStringLiteral("newest ip %1 and qp %2 at %3 ms")
                                            .arg(newest_ip_.y())
                                            .arg(newest_qp_.y())
                                            .arg(newest_ip_.x(), 0, 'f', 1);
    if (text == chart_view->accessibleDescription()) return;
    chart_view->setAccessibleDescription(text);
    described_.start();
}

bool TGraphForm::takeNewPoints() {
    std::vector<QPointF> ip, qp;
    capture_.copyPoints(ip_taken_, qp_taken_, ip, qp);
    ip_taken_ += ip.size();
    qp_taken_ += qp.size();
    if (!ip.empty() && !qp.empty()) {
        newest_ip_ = ip.back();
        newest_qp_ = qp.back();
        has_newest_ = true;
    }
    ip_plot_.add(ip);
    qp_plot_.add(qp);
    return !ip.empty() || !qp.empty();
}

void TGraphForm::showPlots() {
    const QList<QPointF> ip = ip_plot_.points();
    const QList<QPointF> qp = qp_plot_.points();
    const bool marked = ip.size() + qp.size() <= kMarkedPointsMax;
    ip_series->setPointsVisible(marked);
    qp_series->setPointsVisible(marked);
    ip_series->replace(ip);
    qp_series->replace(qp);
    double low = -1, high = 1, l = 0, h = 0;
    if (ip_plot_.yRange(l, h)) low = std::min(low, l), high = std::max(high, h);
    if (qp_plot_.yRange(l, h)) low = std::min(low, l), high = std::max(high, h);
    setNiceAxis(axis_y, low, high, false);
}

void TGraphForm::showInfo(bool live, std::int32_t count, const QTime& first_sample) {
    const QString gate = gate_box->text().trimmed();
    const QString points = points_box->text().trimmed();
    // The capture is dated by its first sample: a Refresh with no stream waits.
    const QString from = first_sample.isValid()
                             ? QStringLiteral("capture from %1")
                                   .arg(first_sample.toString(QStringLiteral("hh:mm:ss")))
                             : QStringLiteral("no sample yet");
    QString text = QStringLiteral("Gate %1: %2 of %3 points captured, %4 (%5)")
                       .arg(gate.isEmpty() ? QStringLiteral("?") : gate)
                       .arg(count)
                       .arg(points.isEmpty() ? QStringLiteral("?") : points)
                       .arg(live ? QStringLiteral("live") : QStringLiteral("frozen"), from);
    if (ip_plot_.decimated() || qp_plot_.decimated())
        text += QStringLiteral("; lowest and highest per column shown");
    if (text != shown_info_) info_label->setText(shown_info_ = text);
}

// Escape closes the view, as it closes a dialog.
void TGraphForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace zarv::views
