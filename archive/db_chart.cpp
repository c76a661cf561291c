#include "archive/db_chart.h"

#include <QChart>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QPen>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

namespace archive {

namespace {

struct SeriesLook {
  QColor color;
  int width;
  bool dashed;
};

constexpr SeriesLook kLooks[TDBChart::kSeries] = {
    {QColor(128, 64, 64), 3, false}, {QColor(255, 0, 0), 1, false},   {QColor(255, 128, 64), 1, false},
    {QColor(128, 128, 0), 1, false}, {QColor(0, 0, 160), 3, true},    {QColor(128, 0, 128), 1, true},
    {QColor(0, 128, 128), 1, true},  {QColor(0, 255, 0), 1, true},
};

// TDateTime counts days from 1899-12-30; the chart's date axis milliseconds from 1970-01-01.
constexpr double kUnixEpochDays = 25569;
constexpr double kMsPerDay = 86400000.0;

QImage SquareMarker(const QColor& c) {
  QImage img(7, 7, QImage::Format_ARGB32);
  img.fill(c);
  return img;
}

}  // namespace

TDBChart::TDBChart(QWidget* parent) : QChartView(parent) {
  setObjectName("MyChart");
  setRenderHint(QPainter::Antialiasing);
  QChart* c = chart();
  c->setTheme(QChart::ChartThemeLight);
  c->setBackgroundBrush(Qt::white);
  c->setTitle("QUIRVEL");
  c->legend()->setAlignment(Qt::AlignBottom);
  axis_left_ = new QValueAxis(c);
  axis_right_ = new QValueAxis(c);
  c->addAxis(axis_left_, Qt::AlignLeft);
  c->addAxis(axis_right_, Qt::AlignRight);
  for (int i = 0; i < kSeries; ++i) {
    auto* s = new QLineSeries(c);
    QPen pen(kLooks[i].color);
    pen.setWidth(kLooks[i].width);
    if (kLooks[i].dashed) pen.setStyle(Qt::DashLine);
    s->setPen(pen);
    s->setLightMarker(SquareMarker(kLooks[i].color));
    c->addSeries(s);
    s->attachAxis(i % 2 == 0 ? axis_left_ : axis_right_);
    series_[static_cast<size_t>(i)] = s;
    connect(s, &QLineSeries::clicked, this, [this, i](const QPointF& p) { SeriesClicked(i, p); });
    // The legend entry switches its series on and off.
    for (QLegendMarker* m : c->legend()->markers(s)) {
      connect(m, &QLegendMarker::clicked, this, [s, m] {
        s->setVisible(!s->isVisible());
        m->setVisible(true);
        QColor label = m->labelBrush().color();
        label.setAlphaF(s->isVisible() ? 1.0 : 0.4);
        m->setLabelBrush(label);
      });
    }
  }
  SetByDate(true);
  ClearSeries();
}

void TDBChart::ClearSeries() {
  for (int i = 0; i < kSeries; ++i) {
    series_[static_cast<size_t>(i)]->clear();
    points_[static_cast<size_t>(i)].clear();
    series_[static_cast<size_t>(i)]->setVisible(false);
    for (QLegendMarker* m : chart()->legend()->markers(series_[static_cast<size_t>(i)])) m->setVisible(false);
    active_[static_cast<size_t>(i)] = in_legend_[static_cast<size_t>(i)] = false;
  }
  Rescale();
}

double TDBChart::ChartX(double x) const { return by_date_ ? (x - kUnixEpochDays) * kMsPerDay : x; }

void TDBChart::SetSeries(const PlotSeries& ps) {
  if (ps.Index < 0 || ps.Index >= kSeries) return;
  const size_t i = static_cast<size_t>(ps.Index);
  auto& pts = points_[i];
  pts = ps.Points;
  std::stable_sort(pts.begin(), pts.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  QList<QPointF> q;
  q.reserve(static_cast<qsizetype>(pts.size()));
  for (const auto& [x, y] : pts) q.append(QPointF(ChartX(x), y));
  QLineSeries* s = series_[i];
  s->setName(QString::fromStdString(ps.Title));
  s->replace(q);
  s->setVisible(true);
  for (QLegendMarker* m : chart()->legend()->markers(s)) m->setVisible(true);
  active_[i] = in_legend_[i] = true;
  Rescale();
}

void TDBChart::SetTitle(const std::string& title) { chart()->setTitle(QString::fromStdString(title)); }
std::string TDBChart::Title() const { return chart()->title().toStdString(); }

void TDBChart::SetByDate(bool byDate) {
  QChart* c = chart();
  if (axis_x_ && byDate == by_date_) return;
  by_date_ = byDate;
  if (axis_x_) {
    for (QLineSeries* s : series_) s->detachAxis(axis_x_);
    c->removeAxis(axis_x_);
    delete axis_x_;
  }
  if (byDate) {
    auto* a = new QDateTimeAxis(c);
    a->setFormat("yyyy-MM-dd");
    a->setLabelsAngle(-45);
    axis_x_ = a;
  } else {
    auto* a = new QValueAxis(c);
    a->setLabelsVisible(false);
    axis_x_ = a;
  }
  c->addAxis(axis_x_, Qt::AlignBottom);
  for (QLineSeries* s : series_) s->attachAxis(axis_x_);
  // Points already there move to the new axis' scale.
  for (int i = 0; i < kSeries; ++i) {
    QList<QPointF> q;
    for (const auto& [x, y] : points_[static_cast<size_t>(i)]) q.append(QPointF(ChartX(x), y));
    series_[static_cast<size_t>(i)]->replace(q);
  }
  Rescale();
}

void TDBChart::Rescale() {
  double xmin = INFINITY, xmax = -INFINITY;
  double ymin[2] = {INFINITY, INFINITY}, ymax[2] = {-INFINITY, -INFINITY};
  for (int i = 0; i < kSeries; ++i) {
    for (const auto& [x, y] : points_[static_cast<size_t>(i)]) {
      xmin = std::min(xmin, ChartX(x));
      xmax = std::max(xmax, ChartX(x));
      ymin[i % 2] = std::min(ymin[i % 2], y);
      ymax[i % 2] = std::max(ymax[i % 2], y);
    }
  }
  auto range = [](double& lo, double& hi, double pad) {
    if (!std::isfinite(lo)) lo = 0, hi = 1;
    if (hi - lo < 1e-9) lo -= pad, hi += pad;
    const double m = (hi - lo) * 0.05;
    lo -= m;
    hi += m;
  };
  range(xmin, xmax, by_date_ ? kMsPerDay / 2 : 1);
  if (by_date_) {
    static_cast<QDateTimeAxis*>(axis_x_)->setRange(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(xmin)),
                                                   QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(xmax)));
  } else {
    static_cast<QValueAxis*>(axis_x_)->setRange(xmin, xmax);
  }
  range(ymin[0], ymax[0], 1);
  range(ymin[1], ymax[1], 1);
  axis_left_->setRange(ymin[0], ymax[0]);
  axis_right_->setRange(ymin[1], ymax[1]);
}

bool TDBChart::SeriesActive(int series) const { return active_.at(static_cast<size_t>(series)); }
bool TDBChart::SeriesInLegend(int series) const { return in_legend_.at(static_cast<size_t>(series)); }

std::string TDBChart::SeriesTitle(int series) const { return series_.at(static_cast<size_t>(series))->name().toStdString(); }

QPoint TDBChart::PointPosition(int series, int point) const {
  const auto& p = points_.at(static_cast<size_t>(series)).at(static_cast<size_t>(point));
  const QPointF scene = chart()->mapToPosition(QPointF(ChartX(p.first), p.second), series_.at(static_cast<size_t>(series)));
  return mapFromScene(chart()->mapToScene(scene));
}

void TDBChart::SeriesClicked(int series, const QPointF& where) {
  // The click reports a place on the line; the point meant is the nearest one on the screen.
  const auto& pts = points_[static_cast<size_t>(series)];
  if (pts.empty()) return;
  QLineSeries* s = series_[static_cast<size_t>(series)];
  const QPointF at = chart()->mapToPosition(where, s);
  int best = 0;
  double dist = INFINITY;
  for (size_t k = 0; k < pts.size(); ++k) {
    const QPointF p = chart()->mapToPosition(QPointF(ChartX(pts[k].first), pts[k].second), s);
    const double d = std::hypot(p.x() - at.x(), p.y() - at.y());
    if (d < dist) dist = d, best = static_cast<int>(k);
  }
  emit ClickSeries(series, best);
}

QImage TDBChart::Render(int width, int height) {
  QImage img(width, height, QImage::Format_RGB888);
  img.fill(Qt::white);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  const QSize old = size();
  if (old != QSize(width, height)) resize(width, height);
  render(&p, QRectF(0, 0, width, height), rect());
  p.end();
  if (old != QSize(width, height)) resize(old);
  return img;
}

}  // namespace archive
