#pragma once
// The arithmetic of the reading chart, apart from any widget: round ticks for
// the value axis, second/minute/hour ticks for the time axis, the fit of the
// value axis around the readings and the levels drawn across it, the mapping
// of values to the plot's pixels, and the thinning of a long run to what the
// plot's width can show. Nothing here paints or keeps state.
#include <QPointF>
#include <QPolygonF>
#include <QRectF>
#include <vector>

// The step between ticks: 1, 2, 2.5 or 5 times a power of ten, the smallest
// that cuts span into at most maxTicks intervals. A span that is no positive
// finite number gets step 1.
double NiceStep(double span, int maxTicks);

// The decimals a label of a multiple of step needs (0 for 5, 1 for 2.5, 2 for
// 0.25); at most 9.
int StepDecimals(double step);

// The multiples of step from low to high, both ends included (within a
// rounding error), at most 1000 of them; none for a step that is not positive
// or bounds that are not finite.
std::vector<double> TicksBetween(double low, double high, double step);

// The value axis: from mLow to mHigh, both multiples of mStep.
struct RValueScale {
    double mLow = -1;
    double mHigh = 1;
    double mStep = 0.5;
    int mDecimals = 1;
};
// The axis for readings from low to high that also keeps every value of
// keep in view (the alarm levels): a tenth of the span of room at either
// end (a flat line, a tenth of its size and at least 1), widened to whole
// steps of at most maxTicks intervals. Values that are not finite are left
// out; with none left, the axis is -1 to 1.
RValueScale FitValueScale(double low, double high, const std::vector<double> &keep, int maxTicks);

// The time axis: ticks every mStep seconds, labelled in seconds, minutes or
// hours (the unit a tick's label counts: mStep / mPerUnit of them apart).
enum class ETimeUnit { kSeconds, kMinutes, kHours };
struct RTimeScale {
    double mStep = 1;
    ETimeUnit mUnit = ETimeUnit::kSeconds;
    double mPerUnit = 1; // seconds in one unit of the labels
    int mDecimals = 0;   // of a label in that unit
};
// The unit follows the span alone, so the axis's title does not change with
// the widget's size: seconds up to 10 minutes, minutes up to 10 hours, hours
// beyond. The step is the shortest of 1, 2, 5, 10, 15, 20 or 30 seconds or
// minutes, or of 1, 2, 3, 6, 12 or 24 hours, not below one unit, that cuts
// span seconds into at most maxTicks intervals (past a day, a round number of
// hours). A span of fewer than maxTicks seconds gets decimal seconds.
RTimeScale FitTimeScale(double span, int maxTicks);

// Values to the plot's pixels: time t0..t1 across plot from left to right,
// values v0..v1 from bottom to top. An empty or reversed range counts as one
// unit wide. Far outside the plot, pixels are held at a fixed distance, so a
// wild value never reaches the painter as an overflowing coordinate.
class TChartMap {
public:
    TChartMap(const QRectF &plot, double t0, double t1, double v0, double v1);
    double X(double t) const;
    double Y(double v) const;
    QPointF Map(const QPointF &point) const { return {X(point.x()), Y(point.y())}; }
    const QRectF &Plot() const { return FPlot; }
    double T0() const { return FT0; }
    double T1() const { return FT1; }

private:
    QRectF FPlot;
    double FT0, FT1, FV0, FV1;
};

// The reading as lines to draw, in pixels: one polyline per stretch of finite
// values (a value that is not finite leaves a gap), readings outside t0..t1
// left out. Of several readings in one pixel column only the first, the
// lowest, the highest and the last are kept, in their order, so a day of
// readings costs what the plot's width costs and its peaks still show.
std::vector<QPolygonF> PlotRuns(const std::vector<QPointF> &points, const TChartMap &map);
