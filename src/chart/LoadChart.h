// The main window's load chart: series of loads over the sample number, as many as it is made
// with, drawn from every stored point through a per-pixel-column reduction so long runs stay
// fast to draw and inspect, and drawn live while a run goes on.
#pragma once

#include <QColor>
#include <QLocale>
#include <QPointF>
#include <QString>
#include <QWidget>
#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "chart/CursorLayer.h"
#include "chart/M4Reduce.h"
#include "station/ChartSink.h"
#include "station/LiveChartSink.h"

QT_BEGIN_NAMESPACE
class QChart;
class QTimer;
class QChartView;
class QLineSeries;
class QValueAxis;
QT_END_NAMESPACE

namespace kelvaro {

// Mouse use, for operators inspecting peaks:
//   wheel               zooms the sample axis around the cursor;
//   Ctrl + wheel        zooms the load axis around the cursor;
//   left button drag    pans both axes;
//   double click        back to the whole run and the load range the program last set;
//   Shift + left drag   marks a stretch of samples, from the one under the press to the one
//                       under the mouse, shaded as it follows the mouse (StretchMarked);
//                       a Shift click marks a single sample; not while the run is drawn live;
//   moving over the plot  shows the cursor line and read-out (below), gone when it leaves.
// The chart keeps every point it is given; only the reduced points of the visible range are
// drawn, recomputed (once per event-loop turn, or before the next paint) on data changes,
// resize, zoom and pan. Qt Charts draws the axes, grid and legend; its line series stay
// empty (they carry the legend entries) and the lines are drawn by a LineLayer over the plot
// area, aliased and one device pixel wide so the reduced picture matches the full one. Qt
// Charts sizes legend swatches from the legend font and offers no width setting: the swatch is
// Qt's rectangle marker, not a 60-pixel bar.
//
// Live, between BeginLive and EndLive, the chart reads the run's new rows ten times a second
// (RefreshLive) and bins only those into the pixel columns (GrowingReduction). The view follows
// the run and ignores the gestures: the sample axis runs from 1 to LiveSampleAxisEnd(samples),
// which steps up 1000, 2000, 5000, 10000... so the columns, and with them the binning, change
// only at those steps (seven times in a run of 144000 samples) or when the plot's width changes;
// the load axis spans zero and every value of every row read so far, an idle plate's too (the
// final chart's rule), each end rounded out to LiveLoadAxisEnd so that climbing loads change it
// about ten times per tenfold growth rather than at every refresh. Between those changes a
// refresh repaints only the columns its new points reach. At EndLive the axis is the final
// chart's. A series set or cleared by the program ends the live view. One series may draw the
// platform's total live (SetLiveSumSeries): each new row's active plates summed as the final
// total sums them, binned and counted in the load axis like a plate.
//
// Over the plot the cursor reads the run: a thin line on the sample nearest the mouse and a box
// with its number and each series' load there, exact from the stored points whatever the
// reduction drew. Not while the run is drawn live: the samples would slide under the mouse.
class LineLayer;

// What the cursor reads: a sample number (1-based), its time when the sample frequency is known,
// and each series' load at that sample, none for a series without a point there. On a time
// axis: no sample (0), the time under the mouse, and each series' point nearest that time.
struct CursorReading {
    long long sample = 0;
    std::optional<double> seconds;             // (sample - 1) / frequency
    std::vector<std::optional<double>> loads;  // series 1 first
};

// Colours for series of different tests on one chart: distinct from each other and dark enough
// for a one-pixel line on white.
inline constexpr int kDistinctColourCount = 8;
QColor DistinctColour(int index);  // index modulo kDistinctColourCount

// The end of the sample axis while a run of `samples` is drawn live: the first of 1000, 2000,
// 5000, 10000, 20000... that holds them all.
double LiveSampleAxisEnd(std::size_t samples);
// The end of the load axis while a run is drawn live, for the largest load (or the negated
// smallest) read so far: the first of 1, 1.2, 1.5, 2, 2.5, 3, 4, 5, 6, 8 times a power of ten
// that holds it; 0 for a load of 0 or less.
double LiveLoadAxisEnd(double load);

class LoadChart : public QWidget, public ChartSink, public LiveChartSink {
    Q_OBJECT
  public:
    // A chart of `seriesCount` series (at least one), numbered from 1 and coloured in turn red,
    // green, black, blue and magenta (the total's); their titles are empty until set.
    explicit LoadChart(int seriesCount, QWidget* parent = nullptr);
    ~LoadChart() override;

    int SeriesCount() const { return static_cast<int>(series_.size()); }

    // ChartSink. Series numbers outside 1..SeriesCount() throw std::out_of_range and change
    // nothing.
    void ClearSeries(int series) override;
    void SetSeriesPoints(int series, std::vector<ChartPoint> points) override;
    void SetLeftAxisMaximum(double value) override;
    void SetLeftAxisMinimum(double value) override;
    void SetSeriesTitle(int series, const std::string& title) override;
    void SetSeriesInLegend(int series, bool listed) override;
    void SetLegendVisible(bool visible) override;
    // As SetSeriesPoints, but the view keeps its sample range: another version of the same run's
    // series (the total shown or hidden, the loads filtered or raw) under a zoomed-in operator.
    void ReplaceSeriesPoints(int series, std::vector<ChartPoint> points);

    // LiveChartSink: a row's plates are the first series; a plate beyond them is not drawn, but
    // its loads still reach the load axis. EndLive leaves the view of the whole run: the sample
    // axis from the first sample to the last, the load axis as the live view had it (also what
    // ResetView returns to).
    void BeginLive(const ActivePlates& active, LoadsSoFar loadsSoFar) override;
    void EndLive() override;
    // Reads the rows added since the last refresh and draws them; the live timer's call.
    void RefreshLive();
    bool Live() const { return static_cast<bool>(liveLoads_); }
    // The series that draws the active plates' total live, 0 for none (the default); kept from
    // run to run. Ignored while it is one of the run's plate series. Out of 0..SeriesCount()
    // throws std::out_of_range and changes nothing.
    void SetLiveSumSeries(int series);
    int LiveSumSeries() const { return liveSumSeries_; }

    // Samples per second of the run shown, for the read-out's time; 0 or less: unknown (the
    // default).
    void SetSampleFrequency(double hz);

    // Series' x in seconds rather than sample numbers, for series of runs that may differ in
    // frequency: the axis titled `title`, ticks on round times with the decimals they need, the
    // read-out "Tempo t s" with each series' point nearest that time, and no Shift drag (a
    // stretch is counted in samples). For good: a chart is made for one or the other.
    void SetTimeAxis(const QString& title);
    bool TimeAxis() const { return timeAxis_; }
    void SetSeriesColour(int series, const QColor& colour);

    // The stretch shaded over the plot, first and last sample (1-based), none by default. The
    // program sets it; so does the Shift drag, and BeginLive clears it.
    void SetShadedStretch(std::optional<std::pair<long long, long long>> samples);
    std::optional<std::pair<long long, long long>> ShadedStretch() const { return shaded_; }

    // Locale of the load axis labels ("#,##0.000" with its separators, "0.000E+00" once a
    // bound has more than 12 integer digits, never a negative zero); the system's by default.
    void SetNumberLocale(const QLocale& locale);

    // The reading at a position in widget pixels: the sample nearest the x of its device pixel
    // column within the visible range. None outside the plot area, during the live view, or
    // where no series has a point.
    std::optional<CursorReading> ReadingAt(QPointF position) const;
    // The read-out box's text: "Amostra N", or "Amostra N (t s)" with the time, then
    // "<series title> <load>" for each series with a point there; time and loads with three
    // decimals in the number locale, "---" for a missing load.
    QString ReadingText(const CursorReading& reading) const;

    // View changes behind the mouse gestures, in widget pixels.
    void ZoomAt(QPointF position, double factor, Qt::Orientation orientation);
    void PanBy(QPointF pixels);
    void ResetView();

    // Draws every visible point instead of the reduction when off (on by default): the same
    // drawing of all points, to compare pictures against.
    void SetReduction(bool on);

    // Inspection.
    const std::vector<ChartPoint>& Points(int series) const;
    double LeftAxisMinimum() const { return axisMinimum_; }
    double LeftAxisMaximum() const { return axisMaximum_; }
    QChart* Chart() const { return chart_; }
    QChartView* View() const { return view_; }
    // The legend entry of a series; its points are drawn by Lines(), not by Qt Charts.
    QLineSeries* Series(int series) const;
    // The points drawn for a series: the reduction of the visible range (with the neighbours
    // just outside it), or every point with the reduction off.
    const std::vector<ChartPoint>& DrawnPoints(int series) const;
    LineLayer* Lines() const { return lines_; }
    CursorLayer* Cursor() const { return cursor_; }
    QValueAxis* AxisX() const { return axisX_; }
    QValueAxis* AxisY() const { return axisY_; }

  signals:
    // The stretch the Shift drag marks, at the press and whenever the mouse changes it.
    void StretchMarked(long long firstSample, long long lastSample);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    friend class LoadChartView;

    std::size_t Index(int series) const;
    void StorePoints(std::size_t i, std::vector<ChartPoint> points);
    // The sample nearest the middle of the plot's device pixel column `column` (0 its first),
    // kept in the visible range; `width` the plot's columns.
    double SampleInColumn(double column, int width) const;
    // ReadingAt on a time axis, for the plot's device pixel column `column` of `width`.
    std::optional<CursorReading> TimeReadingAt(double column, int width) const;
    // The Shift drag: starts on the plot (false elsewhere, while live, or with nothing drawn),
    // follows the mouse, ends at the release.
    bool StartStretch(QPointF position);
    void FollowStretch(QPointF position);
    void EndStretch() { stretchAnchor_.reset(); }
    // The sample under a position (past the plot's ends, the first or last in view), kept within
    // the samples the series hold; none with nothing drawn.
    std::optional<long long> StretchSampleAt(QPointF position) const;
    // The live total's series index, if it draws one this run.
    std::optional<std::size_t> LiveSumIndex() const;
    // Appends the totals of rows[first..] to series `i`.
    void AppendLiveSums(std::size_t i, std::span<const PlateLoads> rows, std::size_t first);
    // A position in widget pixels in the chart's coordinates.
    QPointF OnChart(QPointF position) const;
    // Shows what the cursor reads at the mouse's last position, or hides it.
    void UpdateCursor();
    std::vector<CursorLayer::Entry> ReadingEntries(const CursorReading& reading) const;
    void ApplyYRange(double low, double high);
    void MendNegativeZeroLabels();
    void ApplyXRange(double low, double high);
    void FitX();
    void RequestReduce();
    void ReduceIfPending();
    void Reduce();
    void OnPlotAreaChanged();
    void LeaveLive();

    QChartView* view_ = nullptr;
    QChart* chart_ = nullptr;
    QValueAxis* axisX_ = nullptr;
    QValueAxis* axisY_ = nullptr;
    LineLayer* lines_ = nullptr;
    CursorLayer* cursor_ = nullptr;
    // Where the mouse is over the chart, while it is.
    std::optional<QPointF> hover_;
    std::vector<QLineSeries*> series_;
    std::vector<std::vector<ChartPoint>> points_;
    // The load range set by the program; the view may zoom away from it.
    double axisMinimum_ = 0.0;
    double axisMaximum_ = 10.0;
    double viewX0_ = 0.0;
    double viewX1_ = 1.0;
    double viewY0_ = 0.0;
    double viewY1_ = 10.0;
    bool reducePending_ = false;
    bool reduction_ = true;
    // The axis labels have been looked at since Qt last laid them out.
    bool labelsLaidOut_ = false;
    // The live view: how it reads the run, what it has read, and the reduction it keeps.
    LoadsSoFar liveLoads_;
    ActivePlates liveActive_{};  // the row's plates drawn: active ones with a series
    std::size_t liveRows_ = 0;
    double liveLow_ = 0.0;
    double liveHigh_ = 0.0;
    std::vector<GrowingReduction> growing_;
    QTimer* liveTimer_ = nullptr;
    int liveSumSeries_ = 0;
    ActivePlates liveSummed_{};  // the plates the live total adds: BeginLive's
    std::vector<double> liveSums_;
    // The extremes of the live total so far, kept apart so hiding it gives the plates' own back.
    double sumLow_ = 0.0;
    double sumHigh_ = 0.0;
    double sampleHz_ = 0.0;
    std::optional<std::pair<long long, long long>> shaded_;
    bool timeAxis_ = false;
    // The sample under the press of a Shift drag, while it goes on.
    std::optional<long long> stretchAnchor_;
};

}  // namespace kelvaro
