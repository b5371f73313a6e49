#include "chart/LoadChart.h"

#include <QChart>
#include <QChartView>
#include <QEvent>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <utility>

#include "chart/CursorLayer.h"
#include "chart/LineLayer.h"
#include "chart/M4Reduce.h"
#include "results/TotalLoad.h"

namespace kelvaro {

namespace {

const QColor kSilver(0xC0, 0xC0, 0xC0);
// One wheel notch (120 eighths of a degree) zooms in by this factor.
constexpr double kZoomPerNotch = 1.25;
// Qt Charts stacks background -1, plot area 0, shades 1, grid 2, axes 3, series 4, legend 5.
constexpr double kLinesZ = 4.0;
// Over the lines and under the legend, which stays outside the plot anyway.
constexpr double kCursorZ = 4.5;
// About ten refreshes a second: the run looks continuous and a refresh stays a small part of it.
constexpr int kLiveRefreshMs = 100;
// The series' colours in turn, the plates' then the total's; a chart of more series starts over.
const std::array<QColor, 5> kSeriesColours{Qt::red, Qt::green, Qt::black, Qt::blue,
                                           QColor(0xC0, 0x00, 0xC0)};

// Series of different tests side by side: the first ones the most unlike.
const std::array<QColor, kDistinctColourCount> kDistinctColours{
    QColor(0x00, 0x57, 0xD9), QColor(0xD8, 0x1B, 0x1B), QColor(0x00, 0x8A, 0x00),
    QColor(0x00, 0x00, 0x00), QColor(0xD0, 0x70, 0x00), QColor(0xB0, 0x00, 0xB0),
    QColor(0x00, 0x83, 0x8A), QColor(0x7A, 0x4A, 0x1E)};

// A round step (1, 2 or 5 times a power of ten) giving about four to ten ticks whatever the
// zoom: on whole sample numbers, so no label repeats a rounded number, or on times of any size.
double TickStep(double low, double high, bool wholeNumbers) {
    const double span = high - low;
    // Times get about four to eight ticks: seconds read at a glance.
    double raw = 1.0;
    if (std::isfinite(span) && wholeNumbers && span > 5.0) {
        raw = span / 5.0;
    } else if (std::isfinite(span) && !wholeNumbers && span > 0.0) {
        raw = span / 8.0;
    }
    const double decade = std::pow(10.0, std::floor(std::log10(raw)));
    if (raw <= decade) {
        return decade;
    }
    if (raw <= 2 * decade) {
        return 2 * decade;
    }
    return raw <= 5 * decade ? 5 * decade : 10 * decade;
}

// Qt lays out every tick as soon as the range or the step changes, so the larger step always
// goes first: a short range's step left on a long range would mean one label per sample.
void SetXRange(QValueAxis* axis, double low, double high, bool wholeNumbers) {
    const double step = TickStep(low, high, wholeNumbers);
    if (!wholeNumbers) {
        // As many decimals as the step has: 0.05 s needs two, 20 s none.
        const int decimals =
            std::clamp(static_cast<int>(-std::floor(std::log10(step) + 1e-9)), 0, 9);
        const QString format = QStringLiteral("%.%1f").arg(decimals);
        if (axis->labelFormat() != format) {
            axis->setLabelFormat(format);
        }
    }
    axis->setTickAnchor(0.0);
    if (step >= axis->tickInterval()) {
        axis->setTickInterval(step);
        axis->setRange(low, high);
    } else {
        axis->setRange(low, high);
        axis->setTickInterval(step);
    }
}

void StyleAxis(QValueAxis* axis) {
    axis->setLabelsFont(QFont(QStringLiteral("Verdana"), 8));
    axis->setLabelsColor(Qt::black);
    axis->setLinePen(QPen(Qt::black, 1));
    axis->setGridLinePen(QPen(kSilver, 1, Qt::DotLine));
    axis->setMinorGridLineVisible(false);
}

// The load labels keep "#,##0.000" up to this many integer digits and switch to "0.000E+00"
// beyond: a nonsensical calibration may make loads near 1e16, whose fixed form fills the window.
constexpr double kFixedLabelLimit = 999999999999.9995;  // the first load shown with 13 digits

// A label Qt made of a tick a hair below zero: a minus and nothing but zeros, "-0,000" or
// "-0,000E+00". Gives the text without the minus, or nothing for any other label.
std::optional<QString> WithoutNegativeZero(const QString& text, const QLocale& locale) {
    if (!text.startsWith(locale.negativeSign())) {
        return std::nullopt;
    }
    QString rest = text.mid(locale.negativeSign().size());
    const qsizetype exponent = rest.indexOf(locale.exponential(), 0, Qt::CaseInsensitive);
    const QString mantissa = exponent < 0 ? rest : rest.left(exponent);
    bool digit = false;
    for (const QChar c : mantissa) {
        if (c.isDigit() && c != locale.zeroDigit().front()) {
            return std::nullopt;
        }
        digit = digit || c.isDigit();
    }
    return digit ? std::optional(rest) : std::nullopt;
}

// Qt Charts collapses an empty range; show a unit around a single value instead.
std::pair<double, double> Displayable(double low, double high) {
    if (high > low) {
        return {low, high};
    }
    return {low - 1.0, low + 1.0};
}

// The first of `steps` times a power of ten, from `decade` up, that holds `value`; the steps
// run from 1 to below 10.
double FirstStepHolding(double value, double decade, std::initializer_list<double> steps) {
    for (;;) {
        for (const double step : steps) {
            if (value <= step * decade) {
                return step * decade;
            }
        }
        decade *= 10.0;
    }
}

}  // namespace

QColor DistinctColour(int index) {
    const int count = kDistinctColourCount;
    return kDistinctColours[static_cast<std::size_t>(((index % count) + count) % count)];
}

double LiveSampleAxisEnd(std::size_t samples) {
    return FirstStepHolding(static_cast<double>(samples), 1000.0, {1.0, 2.0, 5.0});
}

double LiveLoadAxisEnd(double load) {
    if (!(load > 0.0) || !std::isfinite(load)) {
        return 0.0;
    }
    // At most a quarter of the axis left empty, and about ten steps for each tenfold growth.
    return FirstStepHolding(load, std::pow(10.0, std::floor(std::log10(load))),
                            {1.0, 1.2, 1.5, 2.0, 2.5, 3.0, 4.0, 5.0, 6.0, 8.0});
}

// Turns mouse gestures on the plot into view changes of the owning chart.
class LoadChartView : public QChartView {
  public:
    LoadChartView(QChart* chart, LoadChart& owner) : QChartView(chart), owner_(owner) {}

  protected:
    void wheelEvent(QWheelEvent* event) override {
        const double notches = event->angleDelta().y() / 120.0;
        if (notches == 0.0) {
            event->ignore();
            return;
        }
        const auto orientation =
            event->modifiers().testFlag(Qt::ControlModifier) ? Qt::Vertical : Qt::Horizontal;
        owner_.ZoomAt(event->position(), std::pow(kZoomPerNotch, notches), orientation);
        event->accept();
    }
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) {
            // Shift is only looked at here: letting it go mid-drag does not turn a marking
            // into a pan.
            const bool marking = event->modifiers().testFlag(Qt::ShiftModifier) &&
                                 owner_.StartStretch(event->position());
            drag_ = marking ? Drag::Stretch : Drag::Pan;
            lastDrag_ = event->position();
            setCursor(marking ? Qt::SizeHorCursor : Qt::ClosedHandCursor);
            event->accept();
            return;
        }
        QChartView::mousePressEvent(event);
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (drag_ == Drag::Pan) {
            owner_.PanBy(event->position() - lastDrag_);
            lastDrag_ = event->position();
            event->accept();
            return;
        }
        if (drag_ == Drag::Stretch) {
            owner_.FollowStretch(event->position());
            event->accept();
            return;
        }
        QChartView::mouseMoveEvent(event);
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (drag_ != Drag::None && event->button() == Qt::LeftButton) {
            drag_ = Drag::None;
            owner_.EndStretch();
            unsetCursor();
            event->accept();
            return;
        }
        QChartView::mouseReleaseEvent(event);
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) {
            owner_.ResetView();
            event->accept();
            return;
        }
        QChartView::mouseDoubleClickEvent(event);
    }

  private:
    enum class Drag { None, Pan, Stretch };

    LoadChart& owner_;
    Drag drag_ = Drag::None;
    QPointF lastDrag_;
};

LoadChart::LoadChart(int seriesCount, QWidget* parent)
    : QWidget(parent),
      series_(static_cast<std::size_t>(std::max(seriesCount, 1))),
      points_(series_.size()),
      growing_(series_.size()) {
    // The view owns the chart; the chart owns axes and series.
    chart_ = new QChart();
    chart_->setAnimationOptions(QChart::NoAnimation);
    chart_->setTitle(QString());
    chart_->setBackgroundBrush(Qt::white);
    chart_->setBackgroundRoundness(0);
    chart_->setDropShadowEnabled(false);
    chart_->setLocalizeNumbers(true);
    chart_->setLocale(QLocale::system());

    QLegend* legend = chart_->legend();
    legend->setAlignment(Qt::AlignBottom);
    // Qt sizes legend swatches from the legend font; a rectangle is the widest it offers.
    legend->setMarkerShape(QLegend::MarkerShapeRectangle);
    legend->setShowToolTips(false);
    legend->setBackgroundVisible(false);
    legend->setFont(QFont(QStringLiteral("Verdana"), 8));
    legend->setLabelColor(Qt::black);
    legend->hide();

    axisX_ = new QValueAxis(chart_);
    axisY_ = new QValueAxis(chart_);
    StyleAxis(axisX_);
    StyleAxis(axisY_);
    axisY_->setLabelFormat(QStringLiteral("%.3f"));
    // The bottom axis counts samples: whole numbers only.
    axisX_->setLabelFormat(QStringLiteral("%.0f"));
    axisX_->setTickType(QValueAxis::TicksDynamic);
    SetXRange(axisX_, axisX_->min(), axisX_->max(), true);
    chart_->addAxis(axisX_, Qt::AlignBottom);
    chart_->addAxis(axisY_, Qt::AlignLeft);

    // Owned by the chart; above the grid and axis lines, where Qt Charts puts its series.
    lines_ = new LineLayer(chart_, series_.size());
    lines_->setZValue(kLinesZ);
    for (std::size_t i = 0; i < series_.size(); ++i) {
        const QColor& colour = kSeriesColours[i % kSeriesColours.size()];
        auto* line = new QLineSeries(chart_);
        line->setPen(QPen(colour, 1));
        line->setPointsVisible(false);
        chart_->addSeries(line);
        line->attachAxis(axisX_);
        line->attachAxis(axisY_);
        series_[i] = line;
        lines_->SetColour(i, colour);
    }

    cursor_ = new CursorLayer(chart_);
    cursor_->setZValue(kCursorZ);

    view_ = new LoadChartView(chart_, *this);
    view_->setRenderHint(QPainter::Antialiasing, false);
    view_->setRubberBand(QChartView::NoRubberBand);
    view_->setFrameShape(QFrame::NoFrame);
    view_->setBackgroundBrush(Qt::white);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_);

    liveTimer_ = new QTimer(this);
    liveTimer_->setInterval(kLiveRefreshMs);
    connect(liveTimer_, &QTimer::timeout, this, [this] { RefreshLive(); });
    connect(chart_, &QChart::plotAreaChanged, this, [this] { OnPlotAreaChanged(); });
    view_->viewport()->installEventFilter(this);
    // The cursor follows the mouse without a button held.
    view_->viewport()->setMouseTracking(true);
    ApplyYRange(axisMinimum_, axisMaximum_);
    FitX();
}

LoadChart::~LoadChart() = default;

std::size_t LoadChart::Index(int series) const {
    if (series < 1 || series > SeriesCount()) {
        throw std::out_of_range("LoadChart: no series " + std::to_string(series) +
                                " (series are numbered 1 to " + std::to_string(SeriesCount()) +
                                ")");
    }
    return static_cast<std::size_t>(series - 1);
}

void LoadChart::ClearSeries(int series) {
    const std::size_t i = Index(series);
    LeaveLive();
    points_[i].clear();
    points_[i].shrink_to_fit();
    FitX();
    RequestReduce();
}

void LoadChart::SetSeriesPoints(int series, std::vector<ChartPoint> points) {
    StorePoints(Index(series), std::move(points));
    FitX();
}

void LoadChart::ReplaceSeriesPoints(int series, std::vector<ChartPoint> points) {
    StorePoints(Index(series), std::move(points));
}

void LoadChart::StorePoints(std::size_t i, std::vector<ChartPoint> points) {
    LeaveLive();
    // The reduction needs x ascending; order a careless caller's points rather than drop any.
    auto byX = [](const ChartPoint& a, const ChartPoint& b) { return a.x < b.x; };
    if (!std::is_sorted(points.begin(), points.end(), byX)) {
        std::stable_sort(points.begin(), points.end(), byX);
    }
    points_[i] = std::move(points);
    RequestReduce();
}

void LoadChart::SetLeftAxisMaximum(double value) {
    if (value < axisMinimum_) {
        return;
    }
    axisMaximum_ = value;
    ApplyYRange(axisMinimum_, axisMaximum_);
}

void LoadChart::SetLeftAxisMinimum(double value) {
    if (value > axisMaximum_) {
        return;
    }
    axisMinimum_ = value;
    ApplyYRange(axisMinimum_, axisMaximum_);
}

void LoadChart::SetSeriesTitle(int series, const std::string& title) {
    labelsLaidOut_ = false;
    series_[Index(series)]->setName(QString::fromStdString(title));
}

void LoadChart::SetSeriesInLegend(int series, bool listed) {
    labelsLaidOut_ = false;
    const std::size_t i = Index(series);
    bool changed = false;
    for (QLegendMarker* marker : chart_->legend()->markers(series_[i])) {
        changed = changed || marker->isVisible() != listed;
        marker->setVisible(listed);
    }
    // A visible legend does not lay its entries out again by itself: it would stay placed for
    // the entries it had before.
    if (changed && chart_->legend()->layout() != nullptr) {
        chart_->legend()->layout()->invalidate();
    }
}

void LoadChart::SetLegendVisible(bool visible) {
    labelsLaidOut_ = false;
    chart_->legend()->setVisible(visible);
}

void LoadChart::BeginLive(const ActivePlates& active, LoadsSoFar loadsSoFar) {
    LeaveLive();
    EndStretch();
    SetShadedStretch(std::nullopt);
    liveLoads_ = std::move(loadsSoFar);
    for (std::size_t i = 0; i < liveActive_.size(); ++i) {
        liveActive_[i] = active[i] && i < series_.size();
    }
    liveSummed_ = active;
    liveRows_ = 0;
    liveLow_ = 0.0;
    liveHigh_ = 0.0;
    sumLow_ = 0.0;
    sumHigh_ = 0.0;
    for (std::size_t i = 0; i < points_.size(); ++i) {
        points_[i].clear();
        growing_[i].Reset(PixelColumns(0.0, 1.0, 1));
    }
    liveTimer_->start();
    RefreshLive();
}

void LoadChart::RefreshLive() {
    if (!Live()) {
        return;
    }
    const std::span<const PlateLoads> rows = liveLoads_();
    const double axisEnd = LiveSampleAxisEnd(std::max(liveRows_, rows.size()));
    // Room for the whole axis: the series move in memory only when the axis steps up, where
    // the columns are binned again anyway, instead of at every doubling of their own.
    const std::optional<std::size_t> sum = LiveSumIndex();
    for (std::size_t i = 0; i < points_.size(); ++i) {
        if ((i < liveActive_.size() ? liveActive_[i] : false) || i == sum) {
            if (static_cast<double>(points_[i].capacity()) < axisEnd) {
                points_[i].reserve(static_cast<std::size_t>(axisEnd));
            }
        }
    }
    for (std::size_t r = liveRows_; r < rows.size(); ++r) {
        const PlateLoads& loads = rows[r];
        for (std::size_t i = 0; i < loads.size(); ++i) {
            if (liveActive_[i]) {
                points_[i].push_back({static_cast<double>(r + 1), loads[i]});
            }
            liveHigh_ = loads[i] > liveHigh_ ? loads[i] : liveHigh_;
            liveLow_ = loads[i] < liveLow_ ? loads[i] : liveLow_;
        }
    }
    if (sum) {
        AppendLiveSums(*sum, rows, liveRows_);
    }
    liveRows_ = std::max(liveRows_, rows.size());
    ApplyXRange(1.0, axisEnd);
    const double low = -LiveLoadAxisEnd(-std::min(liveLow_, sumLow_));
    const double high = LiveLoadAxisEnd(std::max(liveHigh_, sumHigh_));
    if (viewY0_ != low || viewY1_ != high) {
        ApplyYRange(low, high);
    }
    // Now rather than on the next turn of the event loop: the new rows are why it was called.
    reducePending_ = true;
    ReduceIfPending();
}

void LoadChart::EndLive() {
    if (!Live()) {
        return;
    }
    RefreshLive();
    LeaveLive();
    axisMinimum_ = std::min(liveLow_, sumLow_);
    axisMaximum_ = std::max(liveHigh_, sumHigh_);
    ResetView();
    RequestReduce();
}

void LoadChart::LeaveLive() {
    liveTimer_->stop();
    liveLoads_ = nullptr;
}

std::optional<std::size_t> LoadChart::LiveSumIndex() const {
    if (liveSumSeries_ == 0) {
        return std::nullopt;
    }
    const auto i = static_cast<std::size_t>(liveSumSeries_ - 1);
    if (i < liveActive_.size() && liveActive_[i]) {
        return std::nullopt;
    }
    return i;
}

// The rows' own summing, so the live total is the final one to the last bit.
void LoadChart::AppendLiveSums(std::size_t i, std::span<const PlateLoads> rows, std::size_t first) {
    if (first >= rows.size()) {
        return;
    }
    const std::span<const PlateLoads> fresh = rows.subspan(first);
    liveSums_.resize(fresh.size());
    SumActiveLoads(fresh, liveSummed_, liveSums_);
    std::vector<ChartPoint>& points = points_[i];
    for (std::size_t k = 0; k < fresh.size(); ++k) {
        const double sum = liveSums_[k];
        points.push_back({static_cast<double>(first + k + 1), sum});
        // A missing total (NaN) fails both comparisons: it never reaches the axis.
        sumHigh_ = sum > sumHigh_ ? sum : sumHigh_;
        sumLow_ = sum < sumLow_ ? sum : sumLow_;
    }
}

// Shown or hidden mid-run, the total is drawn again from the rows read so far, and the load axis
// goes back to what the plates alone need when it goes.
void LoadChart::SetLiveSumSeries(int series) {
    if (series != 0) {
        Index(series);
    }
    if (series == liveSumSeries_) {
        return;
    }
    const std::optional<std::size_t> before = LiveSumIndex();
    liveSumSeries_ = series;
    if (!Live()) {
        return;
    }
    const std::optional<std::size_t> after = LiveSumIndex();
    sumLow_ = 0.0;
    sumHigh_ = 0.0;
    for (const std::optional<std::size_t> i : {before, after}) {
        if (i) {
            points_[*i].clear();
            growing_[*i].Reset(growing_[*i].Columns());
        }
    }
    if (after) {
        AppendLiveSums(*after, liveLoads_().first(liveRows_), 0);
    }
    RefreshLive();
}

void LoadChart::SetSampleFrequency(double hz) {
    sampleHz_ = hz > 0.0 ? hz : 0.0;
    UpdateCursor();
}

void LoadChart::SetTimeAxis(const QString& title) {
    timeAxis_ = true;
    axisX_->setTitleText(title);
    axisX_->setTitleFont(axisX_->labelsFont());
    axisX_->setTitleBrush(Qt::black);
    labelsLaidOut_ = false;
    SetXRange(axisX_, axisX_->min(), axisX_->max(), false);
    RequestReduce();
}

void LoadChart::SetSeriesColour(int series, const QColor& colour) {
    const std::size_t i = Index(series);
    series_[i]->setPen(QPen(colour, 1));
    lines_->SetColour(i, colour);
    lines_->update();
}

void LoadChart::SetShadedStretch(std::optional<std::pair<long long, long long>> samples) {
    if (samples && samples->first > samples->second) {
        std::swap(samples->first, samples->second);
    }
    shaded_ = samples;
    if (!samples) {
        lines_->SetBand(std::nullopt);
        return;
    }
    lines_->SetBand(std::pair(static_cast<double>(samples->first) - 0.5,
                              static_cast<double>(samples->second) + 0.5));
}

std::optional<long long> LoadChart::StretchSampleAt(QPointF position) const {
    bool any = false;
    double first = 0.0;
    double last = 0.0;
    for (const auto& points : points_) {
        if (!points.empty()) {
            first = any ? std::min(first, points.front().x) : points.front().x;
            last = any ? std::max(last, points.back().x) : points.back().x;
            any = true;
        }
    }
    const double ratio = view_->devicePixelRatioF();
    const QRect pixels = PlotPixels(chart_->plotArea(), ratio);
    if (!any || pixels.isEmpty()) {
        return std::nullopt;
    }
    // Past the plot's ends the mouse reaches the first or last sample in view: the middle of the
    // end column is up to half a column of samples short of them on a long run.
    const double column = std::floor(OnChart(position).x() * ratio) - pixels.left();
    double sample = column < 0.0               ? std::ceil(axisX_->min())
                    : column >= pixels.width() ? std::floor(axisX_->max())
                                               : SampleInColumn(column, pixels.width());
    if (std::ceil(first) <= std::floor(last)) {
        sample = std::clamp(sample, std::ceil(first), std::floor(last));
    }
    return static_cast<long long>(sample);
}

bool LoadChart::StartStretch(QPointF position) {
    // On the plot only: the same test as the read-out's.
    if (Live() || timeAxis_ || !ReadingAt(position)) {
        return false;
    }
    const std::optional<long long> sample = StretchSampleAt(position);
    if (!sample) {
        return false;
    }
    stretchAnchor_ = sample;
    SetShadedStretch(std::pair(*sample, *sample));
    emit StretchMarked(*sample, *sample);
    return true;
}

void LoadChart::FollowStretch(QPointF position) {
    if (!stretchAnchor_ || Live()) {
        return;
    }
    const std::optional<long long> sample = StretchSampleAt(position);
    if (!sample) {
        return;
    }
    const std::pair stretch(std::min(*stretchAnchor_, *sample), std::max(*stretchAnchor_, *sample));
    if (stretch == shaded_) {
        return;
    }
    SetShadedStretch(stretch);
    emit StretchMarked(stretch.first, stretch.second);
}

void LoadChart::SetNumberLocale(const QLocale& locale) {
    labelsLaidOut_ = false;
    chart_->setLocale(locale);
}

const std::vector<ChartPoint>& LoadChart::Points(int series) const {
    return points_[Index(series)];
}

QLineSeries* LoadChart::Series(int series) const {
    return series_[Index(series)];
}

const std::vector<ChartPoint>& LoadChart::DrawnPoints(int series) const {
    return lines_->Points(Index(series));
}

void LoadChart::SetReduction(bool on) {
    if (on != reduction_) {
        reduction_ = on;
        RequestReduce();
    }
}

void LoadChart::ApplyYRange(double low, double high) {
    labelsLaidOut_ = false;
    viewY0_ = low;
    viewY1_ = high;
    const auto [shownLow, shownHigh] = Displayable(low, high);
    axisY_->setRange(shownLow, shownHigh);
    lines_->SetYRange(axisY_->min(), axisY_->max());
    const QString format =
        std::max(std::abs(axisY_->min()), std::abs(axisY_->max())) < kFixedLabelLimit
            ? QStringLiteral("%.3f")
            : QStringLiteral("%.3E");
    if (axisY_->labelFormat() != format) {
        axisY_->setLabelFormat(format);
    }
}

// Qt writes each tick's value as it computed it, so a tick that should be zero but came out a
// hair below reads "-0,000"; no load is a negative zero. Qt sets the label texts when it lays
// the axes out, before they are painted: they are mended then, kept right-aligned to the axis
// (left of the plot) or centred on their tick (below it). Only after a change that lays the
// labels out again: looking at every label on every paint would cost the live chart's
// refreshes a tenth more.
void LoadChart::MendNegativeZeroLabels() {
    if (labelsLaidOut_) {
        return;
    }
    if (QGraphicsLayout* layout = chart_->layout()) {
        layout->activate();
    }
    labelsLaidOut_ = true;
    const QRectF plot = chart_->plotArea();
    const QLocale locale = chart_->locale();
    for (QGraphicsItem* item : view_->scene()->items()) {
        auto* label = dynamic_cast<QGraphicsTextItem*>(item);
        if (label == nullptr) {
            continue;
        }
        const std::optional<QString> mended = WithoutNegativeZero(label->toPlainText(), locale);
        if (!mended) {
            continue;
        }
        const QRectF before = label->mapRectToScene(label->boundingRect());
        label->setPlainText(*mended);
        label->setTextWidth(-1.0);  // Qt's width was the longer text's
        const QRectF after = label->mapRectToScene(label->boundingRect());
        const double shift = before.right() <= chart_->mapToScene(plot.topLeft()).x()
                                 ? before.right() - after.right()
                                 : before.center().x() - after.center().x();
        label->moveBy(shift, 0.0);
    }
}

void LoadChart::ApplyXRange(double low, double high) {
    viewX0_ = low;
    viewX1_ = high;
    const auto [shownLow, shownHigh] = Displayable(low, high);
    if (axisX_->min() == shownLow && axisX_->max() == shownHigh) {
        return;
    }
    SetXRange(axisX_, shownLow, shownHigh, !timeAxis_);
    labelsLaidOut_ = false;
    RequestReduce();
}

void LoadChart::FitX() {
    bool any = false;
    double low = 0.0;
    double high = 0.0;
    for (const auto& points : points_) {
        if (points.empty()) {
            continue;
        }
        low = any ? std::min(low, points.front().x) : points.front().x;
        high = any ? std::max(high, points.back().x) : points.back().x;
        any = true;
    }
    ApplyXRange(low, any ? high : low + 1.0);
}

void LoadChart::ResetView() {
    if (Live()) {
        return;
    }
    FitX();
    ApplyYRange(axisMinimum_, axisMaximum_);
}

void LoadChart::ZoomAt(QPointF position, double factor, Qt::Orientation orientation) {
    const QRectF area = chart_->plotArea();
    if (Live() || area.isEmpty() || !(factor > 0.0)) {
        return;
    }
    const QPointF onChart = OnChart(position);
    if (orientation == Qt::Horizontal) {
        const double low = axisX_->min();
        const double high = axisX_->max();
        const double anchor =
            low + std::clamp((onChart.x() - area.left()) / area.width(), 0.0, 1.0) * (high - low);
        const double span = std::max((high - low) / factor, 1e-9 * std::max(1.0, std::abs(anchor)));
        const double fraction = (anchor - low) / (high - low);
        ApplyXRange(anchor - fraction * span, anchor + (1.0 - fraction) * span);
    } else {
        const double low = axisY_->min();
        const double high = axisY_->max();
        const double anchor =
            high - std::clamp((onChart.y() - area.top()) / area.height(), 0.0, 1.0) * (high - low);
        const double span = std::max((high - low) / factor, 1e-9 * std::max(1.0, std::abs(anchor)));
        const double fraction = (anchor - low) / (high - low);
        ApplyYRange(anchor - fraction * span, anchor + (1.0 - fraction) * span);
    }
}

QPointF LoadChart::OnChart(QPointF position) const {
    // The view shows the scene unscaled; only its origin may differ from the widget's.
    return chart_->mapFromScene(QPointF(view_->mapToScene(QPoint(0, 0))) + position);
}

std::optional<CursorReading> LoadChart::ReadingAt(QPointF position) const {
    if (Live()) {
        return std::nullopt;
    }
    const double ratio = view_->devicePixelRatioF();
    const QRect pixels = PlotPixels(chart_->plotArea(), ratio);
    const QPointF onChart = OnChart(position);
    const double column = std::floor(onChart.x() * ratio) - pixels.left();
    const double row = std::floor(onChart.y() * ratio) - pixels.top();
    if (pixels.isEmpty() || !(column >= 0.0 && column < pixels.width()) ||
        !(row >= 0.0 && row < pixels.height())) {
        return std::nullopt;
    }
    if (timeAxis_) {
        return TimeReadingAt(column, pixels.width());
    }
    const double sample = SampleInColumn(column, pixels.width());
    CursorReading reading;
    reading.sample = static_cast<long long>(sample);
    if (sampleHz_ > 0.0) {
        reading.seconds = (sample - 1.0) / sampleHz_;
    }
    reading.loads.resize(points_.size());
    bool any = false;
    for (std::size_t i = 0; i < points_.size(); ++i) {
        const std::vector<ChartPoint>& points = points_[i];
        const auto at = std::partition_point(
            points.begin(), points.end(), [&](const ChartPoint& p) { return p.x < sample - 0.5; });
        if (at != points.end() && at->x < sample + 0.5) {
            reading.loads[i] = at->y;
            any = true;
        }
    }
    return any ? std::optional(reading) : std::nullopt;
}

// The middle of the column's time; each series reads its point nearest it, as long as the time
// lies within the series (and the half column around its ends, where its line is drawn).
std::optional<CursorReading> LoadChart::TimeReadingAt(double column, int width) const {
    const double low = axisX_->min();
    const double high = axisX_->max();
    const double halfColumn = (high - low) / width / 2.0;
    const double x = low + (column + 0.5) * (high - low) / width;
    CursorReading reading;
    reading.seconds = x;
    reading.loads.resize(points_.size());
    bool any = false;
    for (std::size_t i = 0; i < points_.size(); ++i) {
        const std::vector<ChartPoint>& points = points_[i];
        if (points.empty() || x < points.front().x - halfColumn ||
            x > points.back().x + halfColumn) {
            continue;
        }
        auto at = std::partition_point(points.begin(), points.end(),
                                       [x](const ChartPoint& p) { return p.x < x; });
        if (at == points.end() || (at != points.begin() && x - (at - 1)->x <= at->x - x)) {
            --at;
        }
        reading.loads[i] = at->y;
        any = true;
    }
    return any ? std::optional(reading) : std::nullopt;
}

// The x at the middle of the column, so every column of a zoomed-out run reads one of the
// samples drawn in it; kept in view, where the cursor line can show it.
double LoadChart::SampleInColumn(double column, int width) const {
    const double low = axisX_->min();
    const double high = axisX_->max();
    double sample = std::round(low + (column + 0.5) * (high - low) / width);
    if (std::ceil(low) <= std::floor(high)) {
        sample = std::clamp(sample, std::ceil(low), std::floor(high));
    }
    return sample;
}

std::vector<CursorLayer::Entry> LoadChart::ReadingEntries(const CursorReading& reading) const {
    QString heading = QStringLiteral("Amostra %1").arg(reading.sample);
    if (timeAxis_) {
        heading = QStringLiteral("Tempo %1 s")
                      .arg(chart_->locale().toString(reading.seconds.value_or(0.0), 'f', 3));
    } else if (reading.seconds) {
        heading +=
            QStringLiteral(" (%1 s)").arg(chart_->locale().toString(*reading.seconds, 'f', 3));
    }
    std::vector<CursorLayer::Entry> entries{{heading, {}}};
    for (std::size_t i = 0; i < reading.loads.size(); ++i) {
        if (reading.loads[i]) {
            // A reading the plate did not deliver has no load to show.
            const double load = *reading.loads[i];
            entries.push_back({series_[i]->name().trimmed() + QLatin1Char(' ') +
                                   (std::isnan(load) ? QStringLiteral("---")
                                                     : chart_->locale().toString(load, 'f', 3)),
                               series_[i]->pen().color()});
        }
    }
    return entries;
}

QString LoadChart::ReadingText(const CursorReading& reading) const {
    QStringList lines;
    for (const CursorLayer::Entry& entry : ReadingEntries(reading)) {
        lines << entry.text;
    }
    return lines.join(QLatin1Char('\n'));
}

void LoadChart::UpdateCursor() {
    const std::optional<CursorReading> reading = hover_ ? ReadingAt(*hover_) : std::nullopt;
    if (!reading) {
        cursor_->Hide();
        return;
    }
    // The column the lines draw the sample in, by their own arithmetic.
    const double ratio = view_->devicePixelRatioF();
    const QRect pixels = PlotPixels(chart_->plotArea(), ratio);
    const PixelColumns columns(axisX_->min(), axisX_->max(), pixels.width());
    const double x =
        timeAxis_ ? reading->seconds.value_or(0.0) : static_cast<double>(reading->sample);
    const double column =
        std::clamp(pixels.left() + columns.Any(x), pixels.left() - 1.0, pixels.right() + 1.0);
    cursor_->SetPlotArea(chart_->plotArea(), ratio);
    cursor_->Show(static_cast<int>(column), ReadingEntries(*reading));
}

void LoadChart::PanBy(QPointF pixels) {
    const QRectF area = chart_->plotArea();
    if (Live() || area.isEmpty()) {
        return;
    }
    const double dx = -pixels.x() / area.width() * (axisX_->max() - axisX_->min());
    const double dy = pixels.y() / area.height() * (axisY_->max() - axisY_->min());
    if (dx != 0.0) {
        ApplyXRange(axisX_->min() + dx, axisX_->max() + dx);
    }
    if (dy != 0.0) {
        ApplyYRange(axisY_->min() + dy, axisY_->max() + dy);
    }
}

// The bins follow the plot area's device pixel columns; a move without a change of width (the
// load labels growing a digit) shifts them too.
void LoadChart::OnPlotAreaChanged() {
    labelsLaidOut_ = false;
    lines_->SetPlotArea(chart_->plotArea(), view_->devicePixelRatioF());
    cursor_->SetPlotArea(chart_->plotArea(), view_->devicePixelRatioF());
    RequestReduce();
}

// Loading a run sets its series and two axis limits in a row, and a zoom may come as a burst
// of wheel events: reduce once, when control returns to the event loop or before the next
// paint, whichever comes first.
void LoadChart::RequestReduce() {
    if (reducePending_) {
        return;
    }
    reducePending_ = true;
    QMetaObject::invokeMethod(
        this, [this] { ReduceIfPending(); }, Qt::QueuedConnection);
}

void LoadChart::ReduceIfPending() {
    if (!reducePending_) {
        return;
    }
    // Settle a pending layout first so the bins match the plot area that will be painted.
    if (QGraphicsLayout* layout = chart_->layout()) {
        layout->activate();
    }
    reducePending_ = false;
    Reduce();
}

bool LoadChart::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_->viewport()) {
        switch (event->type()) {
            case QEvent::Paint:
                ReduceIfPending();
                MendNegativeZeroLabels();
                break;
            case QEvent::Resize:
            case QEvent::Show:
                labelsLaidOut_ = false;
                break;
            case QEvent::MouseMove:
                hover_ = static_cast<QMouseEvent*>(event)->position();
                UpdateCursor();
                break;
            case QEvent::Leave:
                hover_.reset();
                cursor_->Hide();
                break;
            default:
                break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void LoadChart::Reduce() {
    const QRectF area = chart_->plotArea();
    const double ratio = view_->devicePixelRatioF();
    lines_->SetPlotArea(area, ratio);
    // Bins are the plot's device pixel columns, the very columns the lines are drawn and
    // clipped to, so the first and last sample of the visible range land inside the plot.
    const QRect pixels = PlotPixels(area, ratio);
    const int width =
        pixels.width() >= 1 ? pixels.width() : std::max(1, static_cast<int>(this->width() * ratio));
    const PixelColumns columns(axisX_->min(), axisX_->max(), width);
    lines_->SetColumns(columns);
    for (std::size_t i = 0; i < series_.size(); ++i) {
        if (!reduction_) {
            lines_->SetPoints(i, points_[i]);
        } else if (Live()) {
            // New columns (the sample axis stepped up, the plot changed width): bin again.
            if (!(growing_[i].Columns() == columns)) {
                growing_[i].Reset(columns);
            }
            growing_[i].Extend(points_[i]);
            lines_->SetPoints(i, growing_[i].Points());
        } else {
            lines_->SetPoints(i, M4Reduce(points_[i], columns.X0(), columns.X1(), columns.Count()));
        }
    }
    // The data or the view changed under a still mouse.
    UpdateCursor();
}

}  // namespace kelvaro
