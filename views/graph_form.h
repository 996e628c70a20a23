#pragma once

#include <QElapsedTimer>
#include <QPointF>
#include <QTime>
#include <QWidget>
#include <cstdint>

#include "graph_plot.h"

class QChart;
class QChartView;
class QLabel;
class QLineEdit;
class QLineSeries;
class QPushButton;
class QTimer;
class QValueAxis;

namespace zarv::acquisition {
class GraphCapture;
}  // namespace zarv::acquisition

namespace zarv::views {

using acquisition::GraphCapture;

// Shows the capture of one gate's ip and qp averages. Ten times a second it takes
// the points captured since the last look and draws at most a few per pixel
// column, so a capture of a million points costs the window what one of a
// thousand does.
class TGraphForm : public QWidget {
    Q_OBJECT
  public:
    explicit TGraphForm(GraphCapture& capture, QWidget* parent = nullptr);

    void renew_btnClick();
    // Hands new points to the chart; the timer calls it, tests may too.
    void refreshChart();

    QChart* Chart1 = nullptr;
    QChartView* chart_view = nullptr;
    QLineSeries* ip_series = nullptr;
    QLineSeries* qp_series = nullptr;
    QLineEdit* points_box = nullptr;
    QLineEdit* gate_box = nullptr;
    QPushButton* renew_btn = nullptr;
    QLabel* info_label = nullptr;
    QLabel* points_label = nullptr;
    QLabel* gate_label = nullptr;
    QValueAxis* axis_x = nullptr;
    QValueAxis* axis_y = nullptr;

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void buildChart();
    void buildControls();
    bool takeNewPoints();
    void showPlots();
    void showInfo(bool live, std::int32_t count, const QTime& first_sample);
    void describeNewest(bool live);

    GraphCapture& capture_;
    QTimer* refresh_timer_ = nullptr;
    GraphPlot ip_plot_;
    GraphPlot qp_plot_;
    std::uint64_t shown_capture_ = ~std::uint64_t{0};
    std::size_t ip_taken_ = 0;
    std::size_t qp_taken_ = 0;
    QString shown_info_;
    static constexpr int kDescribeEveryMs = 500;
    QElapsedTimer described_;
    QPointF newest_ip_, newest_qp_;  // of the capture, as taken; none while empty
    bool has_newest_ = false;
};

}  // namespace zarv::views
