#include "ui/chart_scale.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace {

// Readings beyond this are drawn as if they were this: no detector reports
// more, and the axis arithmetic stays far from overflow.
constexpr double kValueBound = 1e9;
// Pixels further than this outside the plot are held there.
constexpr double kPixelBound = 1e5;

bool Finite(double v) { return std::isfinite(v); }

} // namespace

double NiceStep(double span, int maxTicks)
{
    if (!Finite(span) || span <= 0)
        return 1;
    const double raw = span / std::max(1, maxTicks);
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 2.5, 5.0}) {
        // A little slack: a span of exactly 10 cut in 5 takes 2, not 2.5.
        if (m * magnitude >= raw * (1 - 1e-9))
            return m * magnitude;
    }
    return 10 * magnitude;
}

int StepDecimals(double step)
{
    if (!Finite(step) || step <= 0)
        return 0;
    for (int d = 0; d < 9; ++d) {
        const double scaled = step * std::pow(10.0, d);
        if (std::abs(scaled - std::round(scaled)) <= 1e-6 * scaled)
            return d;
    }
    return 9;
}

std::vector<double> TicksBetween(double low, double high, double step)
{
    std::vector<double> ticks;
    if (!Finite(low) || !Finite(high) || !Finite(step) || step <= 0 || high < low)
        return ticks;
    const double slack = step * 1e-6;
    const double first = std::ceil((low - slack) / step);
    const double last = std::floor((high + slack) / step);
    if (!Finite(first) || !Finite(last) || last - first > 1000)
        return ticks;
    for (double k = first; k <= last; ++k) {
        const double t = k * step;
        ticks.push_back(t == 0 ? 0.0 : t); // no "-0"
    }
    return ticks;
}

RValueScale FitValueScale(double low, double high, const std::vector<double> &keep, int maxTicks)
{
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    const auto take = [&](double v) {
        if (!Finite(v))
            return;
        v = std::clamp(v, -kValueBound, kValueBound);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    };
    take(low);
    take(high);
    for (const double v : keep)
        take(v);
    RValueScale scale;
    if (lo > hi)
        return scale;
    const double span = hi - lo;
    const double pad = span > 0 ? span * 0.1 : std::max(1.0, std::abs(hi) * 0.1);
    lo -= pad;
    hi += pad;
    scale.mStep = NiceStep(hi - lo, std::max(1, maxTicks));
    scale.mLow = std::floor(lo / scale.mStep) * scale.mStep;
    scale.mHigh = std::ceil(hi / scale.mStep) * scale.mStep;
    // Widening to whole steps can add an interval; take the next step then.
    if ((scale.mHigh - scale.mLow) / scale.mStep > std::max(1, maxTicks) + 0.5) {
        scale.mStep = NiceStep(scale.mHigh - scale.mLow, std::max(1, maxTicks));
        scale.mLow = std::floor(lo / scale.mStep) * scale.mStep;
        scale.mHigh = std::ceil(hi / scale.mStep) * scale.mStep;
    }
    scale.mDecimals = StepDecimals(scale.mStep);
    return scale;
}

RTimeScale FitTimeScale(double span, int maxTicks)
{
    static constexpr std::array<double, 20> kSteps = {
        1,    2,    5,    10,   15,   20,    30,    60,    120,   300,
        600,  900,  1200, 1800, 3600, 7200, 10800, 21600, 43200, 86400};
    RTimeScale scale;
    maxTicks = std::max(1, maxTicks);
    if (!Finite(span) || span <= 0)
        return scale;
    if (span / maxTicks <= 1) {
        scale.mStep = NiceStep(span, maxTicks);
        scale.mDecimals = StepDecimals(scale.mStep);
        return scale;
    }
    if (span > 36000) {
        scale.mUnit = ETimeUnit::kHours;
        scale.mPerUnit = 3600;
    } else if (span > 600) {
        scale.mUnit = ETimeUnit::kMinutes;
        scale.mPerUnit = 60;
    }
    const auto fits = [&](double step) {
        return step >= scale.mPerUnit && span / step <= maxTicks * (1 + 1e-9);
    };
    const auto chosen = std::find_if(kSteps.begin(), kSteps.end(), fits);
    scale.mStep = chosen != kSteps.end() ? *chosen : NiceStep(span / 3600, maxTicks) * 3600;
    scale.mDecimals = StepDecimals(scale.mStep / scale.mPerUnit);
    return scale;
}

TChartMap::TChartMap(const QRectF &plot, double t0, double t1, double v0, double v1)
    : FPlot(plot), FT0(Finite(t0) ? t0 : 0), FT1(Finite(t1) ? t1 : 0), FV0(Finite(v0) ? v0 : 0),
      FV1(Finite(v1) ? v1 : 0)
{
    if (!(FT1 > FT0))
        FT1 = FT0 + 1;
    if (!(FV1 > FV0))
        FV1 = FV0 + 1;
}

double TChartMap::X(double t) const
{
    const double x = FPlot.left() + (t - FT0) / (FT1 - FT0) * FPlot.width();
    return std::clamp(Finite(x) ? x : (t > FT0 ? kPixelBound : -kPixelBound), FPlot.left() - kPixelBound,
                      FPlot.right() + kPixelBound);
}

double TChartMap::Y(double v) const
{
    const double y = FPlot.bottom() - (v - FV0) / (FV1 - FV0) * FPlot.height();
    return std::clamp(Finite(y) ? y : (v > FV0 ? -kPixelBound : kPixelBound), FPlot.top() - kPixelBound,
                      FPlot.bottom() + kPixelBound);
}

std::vector<QPolygonF> PlotRuns(const std::vector<QPointF> &points, const TChartMap &map)
{
    std::vector<QPolygonF> runs;
    QPolygonF run;
    // The pixel column being gathered: its first, lowest, highest and last
    // reading (lowest value: largest y), each with its place in the run.
    bool open = false;
    long column = 0;
    QPointF first, low, high, last;
    size_t lowAt = 0, highAt = 0;
    const auto put = [&run](const QPointF &p) {
        if (run.isEmpty() || run.back() != p)
            run.append(p);
    };
    const auto flush = [&] {
        if (!open)
            return;
        put(first);
        if (lowAt < highAt) {
            put(low);
            put(high);
        } else {
            put(high);
            put(low);
        }
        put(last);
        open = false;
    };
    const auto endRun = [&] {
        flush();
        if (!run.isEmpty())
            runs.push_back(std::move(run));
        run = QPolygonF();
    };
    size_t at = 0;
    for (const QPointF &point : points) {
        ++at;
        if (!Finite(point.x()) || !Finite(point.y())) {
            endRun();
            continue;
        }
        if (point.x() < map.T0() || point.x() > map.T1())
            continue;
        const QPointF p = map.Map(point);
        const auto col = static_cast<long>(std::floor(p.x()));
        if (open && col != column)
            flush();
        if (!open) {
            open = true;
            column = col;
            first = low = high = p;
            lowAt = highAt = at;
        }
        if (p.y() > low.y()) {
            low = p;
            lowAt = at;
        }
        if (p.y() < high.y()) {
            high = p;
            highAt = at;
        }
        last = p;
    }
    endRun();
    return runs;
}
