#pragma once
// The archive window's history chart: eight line series (0..3 for the first chosen measurement
// type, 4..7 for the second), the even ones on the left axis and the odd ones on the right,
// date-time or running-number X values kept in ascending order, square point markers, a legend
// at the bottom whose entries switch their series on and off, and a click on a point reported
// with the series and the point's index.
#include <QChartView>
#include <QImage>
#include <array>
#include <string>
#include <vector>

#include "archive/hr_db_plot.h"

QT_BEGIN_NAMESPACE
class QLineSeries;
class QValueAxis;
class QAbstractAxis;
QT_END_NAMESPACE

namespace archive {

class TDBChart : public QChartView {
  Q_OBJECT
 public:
  static constexpr int kSeries = 8;

  explicit TDBChart(QWidget* parent = nullptr);

  // Empties all eight series, hides them from the legend and makes them inactive.
  void ClearSeries();
  // Gives the series its title and points (sorted by X), shows it in the legend, makes it active.
  void SetSeries(const PlotSeries& s);
  void SetTitle(const std::string& title);
  std::string Title() const;
  // X as date-times with labelled dates, or as running numbers without labels.
  void SetByDate(bool byDate);
  bool ByDate() const { return by_date_; }

  int PointCount(int series) const { return static_cast<int>(points_.at(static_cast<size_t>(series)).size()); }
  // The point's X as it was given (a TDateTime or the running number) and its Y.
  double XValue(int series, int point) const { return points_.at(static_cast<size_t>(series)).at(static_cast<size_t>(point)).first; }
  double YValue(int series, int point) const { return points_.at(static_cast<size_t>(series)).at(static_cast<size_t>(point)).second; }
  bool SeriesActive(int series) const;
  bool SeriesInLegend(int series) const;
  std::string SeriesTitle(int series) const;
  // The screen position of a point within the view (for tests that click it).
  QPoint PointPosition(int series, int point) const;

  // The chart drawn into an image of the given size.
  QImage Render(int width, int height);

 signals:
  void ClickSeries(int series, int point);

 private:
  void Rescale();
  void SeriesClicked(int series, const QPointF& where);
  double ChartX(double x) const;

  std::array<QLineSeries*, kSeries> series_{};
  std::array<std::vector<std::pair<double, double>>, kSeries> points_;
  QAbstractAxis* axis_x_ = nullptr;
  QValueAxis* axis_left_ = nullptr;
  QValueAxis* axis_right_ = nullptr;
  bool by_date_ = true;
  std::array<bool, kSeries> active_{};
  std::array<bool, kSeries> in_legend_{};
};

}  // namespace archive
