// The logger's chart: the arithmetic of its axes and of the line it draws,
// then the widget itself painted into an image, where the alarm levels must
// land on their rows and bad data must neither crash it nor bend its axes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QWheelEvent>
#include <cmath>
#include <limits>
#include <vector>

#include "ui/chart_scale.h"
#include "ui/reading_chart.h"
#include "ui/ui_app.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(ChartScale, NiceStepsAndTheirDecimals)
{
    const struct {
        double span;
        int maxTicks;
        double step;
        int decimals;
    } cases[] = {
        {10, 5, 2, 0},     {100, 4, 25, 0},  {25, 10, 2.5, 1}, {3, 6, 0.5, 1},      {0.7, 7, 0.1, 1},
        {39, 5, 10, 0},    {12, 1, 20, 0},   {10, 0, 10, 0},   {1e-7, 5, 2e-8, 8},  {0, 5, 1, 0},
        {-3, 5, 1, 0},     {kNaN, 5, 1, 0},  {kInf, 5, 1, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "span " << c.span << " in " << c.maxTicks);
        const double step = NiceStep(c.span, c.maxTicks);
        EXPECT_NEAR(step, c.step, c.step * 1e-9);
        EXPECT_EQ(StepDecimals(step), c.decimals);
    }
}

TEST(ChartScale, TicksAreTheMultiplesOfTheStepWithinBothEnds)
{
    const struct {
        double low, high, step;
        std::vector<double> ticks;
    } cases[] = {
        {0, 1, 0.25, {0, 0.25, 0.5, 0.75, 1}},
        {-0.3, 0.3, 0.1, {-0.3, -0.2, -0.1, 0, 0.1, 0.2, 0.3}}, // ends that are not exact in binary
        {36, 156, 15, {45, 60, 75, 90, 105, 120, 135, 150}},
        {0.5, 0.9, 1, {}},
        {0, 1, 0, {}},
        {1, 0, 0.1, {}},
        {0, 1e9, 1e-3, {}}, // too many to draw
        {kNaN, 1, 0.1, {}},
        {0, kInf, 1, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.low << ".." << c.high << " by " << c.step);
        const std::vector<double> ticks = TicksBetween(c.low, c.high, c.step);
        ASSERT_EQ(ticks.size(), c.ticks.size());
        for (size_t i = 0; i < ticks.size(); ++i)
            EXPECT_NEAR(ticks[i], c.ticks[i], 1e-12);
    }
    for (const double t : TicksBetween(-1, 1, 1))
        EXPECT_FALSE(t == 0 && std::signbit(t)) << "a zero tick must not read -0";
}

TEST(ChartScale, TheValueAxisHoldsTheReadingsAndTheLevels)
{
    const struct {
        const char *what;
        double low, high;
        std::vector<double> keep;
        int maxTicks;
        double axisLow, axisHigh, step;
    } cases[] = {
        {"a gas run under both levels' lines", 0, 32.5, {10, 15}, 5, -10, 40, 10},
        {"a flat line", 5, 5, {}, 5, 4, 6, 0.5},
        {"a single zero", 0, 0, {}, 5, -1, 1, 0.5},
        {"levels far above the readings", 0, 1, {50}, 5, -20, 60, 20},
        {"no readings yet, levels only", kNaN, kNaN, {10, 15}, 5, 8, 16, 2},
        {"nothing finite", kNaN, kInf, {-kInf}, 5, -1, 1, 0.5},
        {"low and high given the wrong way round", 5, -5, {}, 5, -10, 10, 5},
        {"a level that is no number", 0, 10, {kNaN}, 5, -5, 15, 5},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const RValueScale s = FitValueScale(c.low, c.high, c.keep, c.maxTicks);
        EXPECT_DOUBLE_EQ(s.mLow, c.axisLow);
        EXPECT_DOUBLE_EQ(s.mHigh, c.axisHigh);
        EXPECT_DOUBLE_EQ(s.mStep, c.step);
        EXPECT_LE((s.mHigh - s.mLow) / s.mStep, c.maxTicks + 0.5);
    }
    // Wild readings stay drawable: finite ends, a step that divides them.
    for (const double wild : {1e300, -1e300, std::numeric_limits<double>::max()}) {
        const RValueScale s = FitValueScale(0, wild, {}, 6);
        EXPECT_TRUE(std::isfinite(s.mLow) && std::isfinite(s.mHigh) && std::isfinite(s.mStep)) << wild;
        EXPECT_LT(s.mLow, s.mHigh) << wild;
        EXPECT_FALSE(TicksBetween(s.mLow, s.mHigh, s.mStep).empty()) << wild;
    }
}

TEST(ChartScale, TimeTicksInSecondsMinutesOrHours)
{
    const struct {
        double span;
        int maxTicks;
        double step;
        ETimeUnit unit;
        int decimals;
    } cases[] = {
        {120, 8, 15, ETimeUnit::kSeconds, 0},       // the logger's default window
        {120, 12, 10, ETimeUnit::kSeconds, 0},
        {120, 3, 60, ETimeUnit::kSeconds, 0},       // a narrow chart: still seconds
        {600, 10, 60, ETimeUnit::kSeconds, 0},
        {3600, 6, 600, ETimeUnit::kMinutes, 0},
        {3600, 4, 900, ETimeUnit::kMinutes, 0},
        {1200, 40, 60, ETimeUnit::kMinutes, 0},     // never below a whole minute
        {60000, 10, 7200, ETimeUnit::kHours, 0},    // the longest window the settings allow
        {86400, 8, 10800, ETimeUnit::kHours, 0},
        {864000, 5, 180000, ETimeUnit::kHours, 0},  // ten days: round hours
        {5, 10, 0.5, ETimeUnit::kSeconds, 1},
        {0, 5, 1, ETimeUnit::kSeconds, 0},
        {kNaN, 5, 1, ETimeUnit::kSeconds, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.span << " s in " << c.maxTicks);
        const RTimeScale s = FitTimeScale(c.span, c.maxTicks);
        EXPECT_DOUBLE_EQ(s.mStep, c.step);
        EXPECT_EQ(s.mUnit, c.unit);
        EXPECT_EQ(s.mDecimals, c.decimals);
    }
}

TEST(ChartScale, MapsValuesToThePlotAndHoldsWildOnesNearIt)
{
    const TChartMap map(QRectF(10, 20, 100, 50), 0, 120, -10, 40);
    EXPECT_DOUBLE_EQ(map.X(0), 10);
    EXPECT_DOUBLE_EQ(map.X(120), 110);
    EXPECT_DOUBLE_EQ(map.X(60), 60);
    EXPECT_DOUBLE_EQ(map.Y(-10), 70);
    EXPECT_DOUBLE_EQ(map.Y(40), 20);
    EXPECT_DOUBLE_EQ(map.Y(15), 45);
    for (const double wild : {1e300, -1e300, kInf, -kInf, kNaN}) {
        EXPECT_TRUE(std::isfinite(map.Y(wild)) && std::abs(map.Y(wild)) <= 2e5) << wild;
        EXPECT_TRUE(std::isfinite(map.X(wild)) && std::abs(map.X(wild)) <= 2e5) << wild;
    }
    // Empty, reversed or unknown ranges map without dividing by zero.
    for (const auto &[t0, t1, v0, v1] : {std::tuple{5.0, 5.0, 3.0, 3.0}, std::tuple{9.0, 1.0, 4.0, -4.0},
                                         std::tuple{kNaN, kNaN, kInf, kNaN}}) {
        const TChartMap flat(QRectF(0, 0, 100, 100), t0, t1, v0, v1);
        EXPECT_TRUE(std::isfinite(flat.X(5)) && std::isfinite(flat.Y(3)));
    }
}

TEST(ChartScale, PlotRunsSplitAtGapsAndThinLongRuns)
{
    const TChartMap map(QRectF(0, 0, 100, 100), 0, 100, 0, 100);
    const struct {
        const char *what;
        std::vector<QPointF> points;
        std::vector<int> runSizes;
    } cases[] = {
        {"nothing", {}, {}},
        {"one reading", {{50, 50}}, {1}},
        {"a reading each column", {{1, 1}, {2, 5}, {3, 2}, {4, 9}}, {4}},
        {"a gap that is not a number", {{1, 1}, {2, 2}, {3, kNaN}, {4, 4}, {5, 5}}, {2, 2}},
        {"infinities at both ends", {{1, kInf}, {2, 2}, {3, 3}, {kInf, 4}}, {2}},
        {"readings before and after the window", {{-5, 1}, {10, 2}, {20, 3}, {150, 4}}, {2}},
        {"five readings in one column", {{10.1, 5}, {10.2, 90}, {10.3, 1}, {10.4, 40}, {10.5, 50}}, {4}},
        {"nothing but gaps", {{1, kNaN}, {2, kNaN}}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<QPolygonF> runs = PlotRuns(c.points, map);
        ASSERT_EQ(runs.size(), c.runSizes.size());
        for (size_t i = 0; i < runs.size(); ++i)
            EXPECT_EQ(runs[i].size(), c.runSizes[i]) << "run " << i;
    }
    // Of one column's readings: the first, the highest and lowest in their
    // order, and the last.
    const std::vector<QPolygonF> column =
        PlotRuns({{10.1, 5}, {10.2, 90}, {10.3, 1}, {10.4, 40}, {10.5, 50}}, map);
    ASSERT_EQ(column.size(), 1u);
    const std::vector<double> ys = {95, 10, 99, 50};
    for (size_t i = 0; i < ys.size(); ++i)
        EXPECT_DOUBLE_EQ(column[0][static_cast<qsizetype>(i)].y(), ys[i]) << i;

    // A day at one reading a second into 100 columns: a few points a column,
    // and a single spike still drawn at its height.
    std::vector<QPointF> day;
    for (int s = 0; s < 86400; ++s)
        day.emplace_back(s * 100.0 / 86400, 20 + 5 * std::sin(s / 300.0));
    day[43210].setY(97);
    const std::vector<QPolygonF> thin = PlotRuns(day, map);
    ASSERT_EQ(thin.size(), 1u);
    EXPECT_LE(thin[0].size(), 4 * 101);
    double top = 1e9;
    for (const QPointF &p : thin[0])
        top = std::min(top, p.y());
    EXPECT_DOUBLE_EQ(top, map.Y(97));
}

// --- the widget, painted ---------------------------------------------------------

const QColor kLow(0xE0, 0x8A, 0x00);
const QColor kHigh(0xB0, 0x00, 0x00);

bool Reddish(QRgb c) { return qRed(c) > 150 && qGreen(c) < 90 && qBlue(c) < 90 && qRed(c) - qGreen(c) > 100; }

QImage Paint(TReadingChart &chart, qreal ratio = 1)
{
    QImage image(chart.size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    chart.render(&image);
    return image;
}

// Pixels of exactly this colour on device row `row`, between the plot's left
// and 60 % of its width (the labels sit at the right end).
int CountOnRow(const QImage &image, const TReadingChart &chart, int row, const QColor &colour, qreal ratio = 1)
{
    const QRectF plot = chart.PlotArea();
    int n = 0;
    if (row < 0 || row >= image.height())
        return 0;
    for (int x = static_cast<int>((plot.left() + 2) * ratio); x < static_cast<int>((plot.left() + plot.width() * 0.6) * ratio); ++x)
        n += image.pixelColor(x, row).rgb() == colour.rgb();
    return n;
}

int CountReddish(const QImage &image)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += Reddish(image.pixel(x, y));
    return n;
}

// The application is there before the fixture's widget.
struct RWithApp {
    RWithApp() { TestApp(); }
};

class ReadingChartTest : public ::testing::Test, private RWithApp {
protected:
    void SetUp() override
    {
        chart.resize(420, 300);
        chart.SetTimeRange(0, 120);
        chart.SetValueTitle(QStringLiteral("H2S (ppm)"));
    }
    TReadingChart chart;
};

TEST_F(ReadingChartTest, TheLevelsAreDrawnOnTheirRowsAtEveryScale)
{
    std::vector<QPointF> readings;
    for (int s = 0; s <= 60; ++s)
        readings.emplace_back(s, s < 30 ? 2.0 : 2.0 + (s - 30)); // 2 ppm, rising to 32 ppm
    chart.SetReadings(readings);
    chart.SetLevels({{10, QStringLiteral("Low alarm 10.0 ppm"), kLow}, {15, QStringLiteral("High alarm 15.0 ppm"), kHigh}});
    for (const qreal ratio : {1.0, 2.0}) {
        SCOPED_TRACE(testing::Message() << "device pixel ratio " << ratio);
        const QImage image = Paint(chart, ratio);
        const double span = chart.PlotArea().width() * 0.6 * ratio;
        for (const auto &[value, colour] : {std::pair{10.0, kLow}, std::pair{15.0, kHigh}}) {
            SCOPED_TRACE(value);
            const int row = static_cast<int>(std::round(chart.ValueToY(value)) * ratio);
            int on = 0;
            for (int r = row - static_cast<int>(2 * ratio); r <= row + static_cast<int>(ratio); ++r)
                on = std::max(on, CountOnRow(image, chart, r, colour, ratio));
            EXPECT_GT(on, span * 0.4) << "a dashed line on row " << row;
            const int off = static_cast<int>(6 * ratio);
            EXPECT_EQ(CountOnRow(image, chart, row - off, colour, ratio), 0);
            EXPECT_EQ(CountOnRow(image, chart, row + off, colour, ratio), 0);
        }
        // The higher level lies above the lower one.
        EXPECT_LT(chart.ValueToY(15), chart.ValueToY(10));
    }
    EXPECT_EQ(chart.TimeTitle(), QStringLiteral("Time (s)"));
}

TEST_F(ReadingChartTest, BadOrScantDataNeitherCrashesNorBendsTheAxes)
{
    std::vector<QPointF> mixed;
    for (int s = 0; s < 40; ++s)
        mixed.emplace_back(s, s % 10 == 5 ? kNaN : s % 10 == 7 ? kInf : 3.0 + s % 4);
    const struct {
        const char *what;
        std::vector<QPointF> readings;
        bool drawn; // some of the reading's colour in the image
    } cases[] = {
        {"no readings", {}, false},
        {"a single reading", {{60, 7}}, true},
        {"a flat line", {{10, 4}, {20, 4}, {30, 4}}, true},
        {"gaps and infinities", mixed, true},
        {"nothing finite", {{1, kNaN}, {2, kInf}, {kNaN, 3}}, false},
        {"a wild value beside normal ones", {{10, 1}, {20, 1e300}, {30, 2}}, true},
        {"readings before the window only", {{-20, 5}, {-10, 6}}, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        chart.SetReadings(c.readings);
        const QImage image = Paint(chart);
        const auto [low, high] = chart.ValueRange();
        EXPECT_TRUE(std::isfinite(low) && std::isfinite(high));
        EXPECT_LT(low, high);
        EXPECT_FALSE(chart.PlotArea().isEmpty());
        EXPECT_EQ(CountReddish(image) > 0, c.drawn);
    }
    // The gaps and infinities left out of the axis: 3..6 with room, not infinity.
    chart.SetReadings(mixed);
    const auto [low, high] = chart.ValueRange();
    EXPECT_LE(low, 3);
    EXPECT_GE(high, 6);
    EXPECT_LE(high - low, 10);

    // A flat line lies on the row of its value.
    chart.SetReadings({{10, 4}, {100, 4}});
    const QImage flat = Paint(chart);
    const int row = static_cast<int>(chart.ValueToY(4));
    const int x = static_cast<int>(chart.PlotArea().center().x());
    bool found = false;
    for (int r = row - 1; r <= row + 1; ++r)
        found = found || Reddish(flat.pixel(x, r));
    EXPECT_TRUE(found) << "row " << row;

    // A window that is empty or reversed still paints.
    chart.SetTimeRange(50, 50);
    Paint(chart);
    chart.SetTimeRange(kNaN, -kInf);
    Paint(chart);
    EXPECT_LT(chart.TimeRange().first, chart.TimeRange().second);
}

TEST_F(ReadingChartTest, TheAxisGrowsWithTheReadingsAndKeepsAPanUntilThen)
{
    chart.SetLevels({{10, QStringLiteral("Low"), kLow}, {15, QStringLiteral("High"), kHigh}});
    const auto first = chart.ValueRange();
    EXPECT_LE(first.first, 10);
    EXPECT_GE(first.second, 15);

    chart.AddReading({1, 12});
    EXPECT_EQ(chart.ValueRange(), first) << "a reading inside the axis leaves it";

    QWheelEvent up(QPointF(100, 100), QPointF(100, 100), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
    QApplication::sendEvent(&chart, &up);
    const auto panned = chart.ValueRange();
    EXPECT_GT(panned.first, first.first) << "the wheel up shows higher values";
    EXPECT_NEAR(panned.second - panned.first, first.second - first.first, 1e-9);
    chart.AddReading({2, 13});
    EXPECT_EQ(chart.ValueRange(), panned) << "a reading inside the axis keeps the pan";

    chart.AddReading({3, 80});
    const auto grown = chart.ValueRange();
    EXPECT_GE(grown.second, 80);
    EXPECT_LE(grown.first, 10);

    // Replaced readings fit the axis afresh: it shrinks back around them and the levels.
    chart.SetReadings({{50, 11}, {60, 12}});
    EXPECT_LT(chart.ValueRange().second, 80);
    EXPECT_LE(chart.ValueRange().first, 10);
}

TEST_F(ReadingChartTest, TheTimeAxisCountsInTheUnitOfItsWindow)
{
    const struct {
        double from, to;
        const char *title;
    } cases[] = {{0, 120, "Time (s)"}, {36, 156, "Time (s)"}, {0, 3600, "Time (min)"}, {0, 60000, "Time (h)"}};
    for (const auto &c : cases) {
        chart.SetTimeRange(c.from, c.to);
        EXPECT_EQ(chart.TimeTitle().toStdString(), c.title) << c.from << ".." << c.to;
    }
    // A day at one reading a second paints (thinned to the plot's width).
    std::vector<QPointF> day;
    for (int s = 0; s < 86400; ++s)
        day.emplace_back(s, 5 + std::sin(s / 600.0));
    chart.SetTimeRange(0, 86400);
    chart.SetReadings(std::move(day));
    EXPECT_GT(CountReddish(Paint(chart)), 0);
}

} // namespace
