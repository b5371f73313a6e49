#include "results/ResultsScreen.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <cmath>
#include <vector>

#include "chart/LoadChart.h"
#include "results/ResultsPanel.h"
#include "results/ResultsText.h"

namespace kelvaro {

namespace {

std::vector<ChartPoint> Points(std::span<const LoadRecord> loads, int plate) {
    std::vector<ChartPoint> points;
    points.reserve(loads.size());
    for (std::size_t k = 0; k < loads.size(); ++k) {
        points.push_back({static_cast<double>(k + 1), loads[k][plate]});
    }
    return points;
}

std::vector<ChartPoint> Points(std::span<const double> series) {
    std::vector<ChartPoint> points;
    points.reserve(series.size());
    for (std::size_t k = 0; k < series.size(); ++k) {
        points.push_back({static_cast<double>(k + 1), series[k]});
    }
    return points;
}

QString FilterText(int cutoffHz) {
    return cutoffHz == 0 ? QStringLiteral("sem filtro")
                         : QStringLiteral("filtro passa-baixa de %1 Hz").arg(cutoffHz);
}

}  // namespace

ResultsScreen::ResultsScreen(LoadChart& chart, int totalSeries, ResultsPanel& panel,
                             char decimalSeparator, QObject* parent)
    : QObject(parent),
      chart_(chart),
      totalSeries_(totalSeries),
      panel_(panel),
      decimalSeparator_(decimalSeparator) {
    chart_.SetSeriesTitle(totalSeries_, "Total: ");
    chart_.SetSeriesInLegend(totalSeries_, false);
    connect(&panel_, &ResultsPanel::TotalShownChanged, this,
            [this](bool shown) { OnTotalToggled(shown); });
    connect(&panel_, &ResultsPanel::FilterChosen, this,
            [this](int cutoffHz) { OnFilterChosen(cutoffHz); });
    connect(&panel_, &ResultsPanel::WholeRunRequested, this, [this] { OnWholeRun(); });
    connect(&chart_, &LoadChart::StretchMarked, this,
            [this](long long first, long long last) { OnStretchMarked(first, last); });
    Clear();
}

bool ResultsScreen::TotalShown() const {
    if (totalChoice_) {
        return *totalChoice_;
    }
    return !shown_.Empty() && TotalShownByDefault(shown_.Run().active);
}

void ResultsScreen::SetTotalChoice(std::optional<bool> shown) {
    totalChoice_ = shown;
    panel_.SetTotalShown(TotalShown());
}

bool ResultsScreen::TotalDrawable() const {
    return !shown_.Empty() && TotalShown() && !shown_.Total().empty();
}

void ResultsScreen::PrepareLive(const ActivePlates& active,
                                const std::array<std::string, kPlateCount>& units) {
    const bool shown = totalChoice_.value_or(TotalShownByDefault(active));
    // The same rule as the table's: a total only of loads in one unit.
    bool oneUnit = true;
    const std::string* unit = nullptr;
    for (int plate = 0; plate < kPlateCount; ++plate) {
        if (active[plate]) {
            oneUnit = oneUnit && (unit == nullptr || *unit == units[plate]);
            unit = &units[plate];
        }
    }
    chart_.SetLiveSumSeries(shown && oneUnit && unit != nullptr ? totalSeries_ : 0);
}

void ResultsScreen::Show(ResultsRun run) {
    chart_.SetSampleFrequency(run.frequency);
    chart_.SetShadedStretch(std::nullopt);
    shown_.Show(std::move(run));
    panel_.SetTotalShown(TotalShown());
    panel_.SetFilterChoices(AllowedCutoffs(shown_.Run().frequency), shown_.FilterCutoff());
    panel_.setEnabled(true);
    // The plates as DrawRunLoads drew them unless the filter is on.
    Redraw(shown_.FilterCutoff() != 0);
    UpdateTable();
    emit StretchChanged();
}

void ResultsScreen::Clear() {
    shown_.Clear();
    chart_.ClearSeries(totalSeries_);
    chart_.SetSeriesInLegend(totalSeries_, false);
    chart_.SetShadedStretch(std::nullopt);
    chart_.SetSampleFrequency(0.0);
    // The headers stay: the table keeps its place and size between runs.
    panel_.ShowTable(ResultsTable(StretchResults{}, {}, decimalSeparator_), QString());
    panel_.setEnabled(false);
    emit StretchChanged();
}

void ResultsScreen::Redraw(bool plates) {
    if (shown_.Empty()) {
        return;
    }
    const std::span<const LoadRecord> loads = shown_.Loads();
    if (plates) {
        for (int plate = 0; plate < kPlateCount; ++plate) {
            if (shown_.Run().active[plate]) {
                chart_.ReplaceSeriesPoints(plate + 1, Points(loads, plate));
            }
        }
    }
    const bool total = TotalDrawable();
    if (total) {
        chart_.ReplaceSeriesPoints(totalSeries_, Points(shown_.Total()));
    } else {
        chart_.ReplaceSeriesPoints(totalSeries_, {});
    }
    chart_.SetSeriesInLegend(totalSeries_, total);
    // Both ranges hold zero, so the maximum can always go first.
    const auto [low, high] = LoadRange(loads, total ? shown_.Total() : std::span<const double>());
    chart_.SetLeftAxisMaximum(high);
    chart_.SetLeftAxisMinimum(low);
}

void ResultsScreen::UpdateTable() {
    if (shown_.Empty()) {
        return;
    }
    panel_.ShowTable(ResultsTable(shown_.Results(), shown_.Run().units, decimalSeparator_),
                     Caption());
}

QString ResultsScreen::Caption() const {
    if (shown_.Empty()) {
        return {};
    }
    QString stretch = QString::fromStdString(
        StretchText(shown_.Stretch(), shown_.Run().frequency, decimalSeparator_));
    stretch[0] = stretch[0].toUpper();
    // Whether it is the whole run or a marked stretch, the status line and the shade say.
    return stretch + QStringLiteral("; ") + FilterText(shown_.FilterCutoff());
}

QString ResultsScreen::StretchStatus() const {
    if (shown_.Empty() || shown_.WholeRunShown()) {
        return {};
    }
    return QStringLiteral("trecho: ") +
           QString::fromStdString(
               StretchText(shown_.Stretch(), shown_.Run().frequency, decimalSeparator_));
}

void ResultsScreen::OnTotalToggled(bool shown) {
    if (shown == TotalShown() && totalChoice_) {
        return;
    }
    totalChoice_ = shown;
    Redraw(false);
    emit TotalChosen(shown);
}

void ResultsScreen::OnFilterChosen(int cutoffHz) {
    if (shown_.SetFilter(cutoffHz) != LowPassError::None) {
        panel_.SetFilterChoices(
            shown_.Empty() ? std::vector<int>() : AllowedCutoffs(shown_.Run().frequency),
            shown_.FilterCutoff());
        return;
    }
    Redraw(true);
    UpdateTable();
}

void ResultsScreen::OnStretchMarked(long long firstSample, long long lastSample) {
    if (shown_.Empty()) {
        return;
    }
    shown_.SetStretch({static_cast<int>(firstSample - 1), static_cast<int>(lastSample - 1)});
    UpdateTable();
    emit StretchChanged();
}

void ResultsScreen::OnWholeRun() {
    chart_.SetShadedStretch(std::nullopt);
    if (shown_.Empty()) {
        return;
    }
    shown_.ShowWholeRun();
    UpdateTable();
    emit StretchChanged();
}

}  // namespace kelvaro
