#include "graph_form.h"

#include <QChart>
#include <QChartView>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>

#include "graph_capture.h"

namespace {
QLineSeries* makeSeries(const QString& title, const QColor& colour) {
    auto* series = new QLineSeries;
    series->setName(title);
    series->setColor(colour);
    series->setPointsVisible(true);
    series->setMarkerSize(1);
    return series;
}

QList<QPointF> toList(const std::vector<QPointF>& points) {
    return QList<QPointF>(points.begin(), points.end());
}
}  // namespace

TGraphForm::TGraphForm(GraphCapture& capture, QWidget* parent)
    : QWidget(parent), capture_(capture) {
    setWindowTitle(QStringLiteral("Graph"));
    resize(942, 540);

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

    points_box = new QLineEdit(QStringLiteral("100"), this);
    gate_box = new QLineEdit(QStringLiteral("2"), this);
    renew_btn = new QPushButton(QStringLiteral("Refresh"), this);
    auto* controls = new QHBoxLayout;
    controls->addWidget(new QLabel(QStringLiteral("Points"), this));
    controls->addWidget(points_box);
    controls->addWidget(new QLabel(QStringLiteral("Gate"), this));
    controls->addWidget(gate_box);
    controls->addWidget(renew_btn);
    controls->addStretch();
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

    refresh_timer_ = new QTimer(this);
    refresh_timer_->setInterval(100);
    connect(refresh_timer_, &QTimer::timeout, this, [this] {
        if (isVisible()) refreshChart();
    });
    refresh_timer_->start();
}

void TGraphForm::renew_btnClick() {
    capture_.renew();
    refreshChart();
}

void TGraphForm::refreshChart() {
    if (capture_.revision() == shown_revision_) return;
    shown_revision_ = capture_.revision();
    const auto& ip = capture_.ipPoints();
    const auto& qp = capture_.qpPoints();
    ip_series->replace(toList(ip));
    qp_series->replace(toList(qp));
    double x_max = 1, y_min = -1, y_max = 1;
    for (const auto* points : {&ip, &qp}) {
        for (const QPointF& p : *points) {
            x_max = std::max(x_max, p.x());
            y_min = std::min(y_min, p.y());
            y_max = std::max(y_max, p.y());
        }
    }
    axis_x->setRange(0, x_max);
    const double margin = std::max(1.0, (y_max - y_min) * 0.05);
    axis_y->setRange(y_min - margin, y_max + margin);
}
