// Painting the logger's chart, offscreen: the time one paint of the chart
// takes with the logger's default window (two minutes at a reading a second)
// and with a day at a reading a second (86 400 readings), into an image of
// the chart's size at 100 % and at 200 %. Beside them, the day drawn as one
// polyline of every reading, as a chart that does not thin its line would.
//
//   bench_reading_chart [--runs N]      (default 40 paints a case; the median and the fastest)
//
// Qt runs offscreen unless QT_QPA_PLATFORM says otherwise.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include "ui/chart_scale.h"
#include "ui/reading_chart.h"

namespace {

std::vector<QPointF> Readings(int seconds)
{
    std::vector<QPointF> readings;
    readings.reserve(static_cast<size_t>(seconds));
    for (int s = 0; s < seconds; ++s) {
        const double gas = (s / 1800) % 5 == 2 ? 25.0 : 0.4; // a bump every two and a half hours
        readings.emplace_back(s, gas + 0.3 * std::sin(s * 1.7) + 0.2 * std::sin(s / 97.0));
    }
    return readings;
}

// Milliseconds of each of `runs` calls, after one that warms up.
std::vector<double> Time(int runs, const std::function<void()> &paint)
{
    paint();
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        paint();
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(ms.begin(), ms.end());
    return ms;
}

void Report(const char *what, double ratio, const std::vector<double> &ms)
{
    std::printf("%-36s %3.0f %%  median %8.3f ms  fastest %8.3f ms\n", what, ratio * 100, ms[ms.size() / 2],
                ms.front());
}

} // namespace

int main(int argc, char **argv)
{
    int runs = 40;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: bench_reading_chart [--runs N]\n");
            return 64;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    TReadingChart chart;
    chart.resize(360, 280); // the logger's chart at 100 %
    chart.SetValueTitle(QStringLiteral("H2S (ppm)"));
    chart.SetLevels({{10, QStringLiteral("Low alarm 10.0 ppm"), QColor(0xE0, 0x8A, 0x00)},
                     {15, QStringLiteral("High alarm 15.0 ppm"), QColor(0xB0, 0x00, 0x00)}});
    const struct {
        const char *what;
        int seconds;
    } cases[] = {{"2 minutes, a reading a second", 120}, {"24 hours, a reading a second", 86400}};

    for (const double ratio : {1.0, 2.0}) {
        QImage image(chart.size() * ratio, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        for (const auto &c : cases) {
            chart.SetTimeRange(0, c.seconds);
            chart.SetReadings(Readings(c.seconds));
            Report(c.what, ratio, Time(runs, [&] { chart.render(&image); }));
        }
        // The day's every reading as one polyline, in the same plot.
        const std::vector<QPointF> day = Readings(86400);
        const auto [low, high] = chart.ValueRange();
        const TChartMap map(chart.PlotArea(), 0, 86400, low, high);
        QPolygonF all;
        all.reserve(static_cast<qsizetype>(day.size()));
        for (const QPointF &p : day)
            all.append(map.Map(p));
        Report("24 hours, every reading drawn", ratio, Time(runs, [&] {
                   QPainter p(&image);
                   p.setRenderHint(QPainter::Antialiasing);
                   p.setClipRect(chart.PlotArea());
                   p.setPen(QPen(Qt::red, 1.5));
                   p.drawPolyline(all);
               }));
    }
    return 0;
}
