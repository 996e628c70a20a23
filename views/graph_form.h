#pragma once

#include <QWidget>
#include <cstdint>

class GraphCapture;
class QChart;
class QChartView;
class QLineEdit;
class QLineSeries;
class QPushButton;
class QTimer;
class QValueAxis;

// Shows the capture of one gate's ip and qp averages. Points are kept by the
// capture and handed to the chart ten times a second, because a chart series
// redraws its whole path on every single append.
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
    QValueAxis* axis_x = nullptr;
    QValueAxis* axis_y = nullptr;

  private:
    GraphCapture& capture_;
    QTimer* refresh_timer_ = nullptr;
    std::uint64_t shown_revision_ = ~std::uint64_t{0};
};
