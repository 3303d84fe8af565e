#pragma once
// The logger's chart: the gas reading over a window of time, drawn with
// QPainter. A value axis with round ticks and the reading's title on the left,
// a time axis in seconds, minutes or hours below, the levels (the alarm set
// points) as dashed lines across the plot with their labels, and the reading
// as a line. The value axis fits itself around the readings and the levels;
// it grows as readings leave it and is fitted afresh when the readings are
// replaced. The wheel pans it up and down until the fit changes.
//
// Every size comes from the widget's font, so the chart reads the same at
// any scale of the screen. The arithmetic lives in chart_scale.h.
#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QWidget>
#include <utility>
#include <vector>

#include "ui/chart_scale.h"

class TReadingChart : public QWidget {
    Q_OBJECT
public:
    // A horizontal line across the plot at mValue, labelled mLabel.
    struct RLevel {
        double mValue = 0;
        QString mLabel;
        QColor mColour;
    };

    explicit TReadingChart(QWidget *parent = nullptr);

    // The window of time shown, seconds since the start of the run.
    void SetTimeRange(double from, double to);
    std::pair<double, double> TimeRange() const { return {FTimeFrom, FTimeTo}; }
    // All readings replaced (x seconds, y value, oldest first): the value
    // axis is fitted to these afresh.
    void SetReadings(std::vector<QPointF> readings);
    // One more reading: the value axis grows when it falls outside.
    void AddReading(const QPointF &reading);
    void ClearReadings() { SetReadings({}); }
    const std::vector<QPointF> &Readings() const { return FReadings; }
    // The levels drawn across the plot; the value axis keeps them in view.
    void SetLevels(std::vector<RLevel> levels);
    const std::vector<RLevel> &Levels() const { return FLevels; }
    // The titles of the axes: the value axis's as set ("H2S (ppm)"), the time
    // axis's after the unit its ticks count ("Time (s)", "Time (min)", "Time (h)").
    void SetValueTitle(const QString &title);
    QString ValueTitle() const { return FValueTitle; }
    QString TimeTitle() const;

    // As drawn at the widget's present size: the value axis's ends, the plot
    // (inside the axes) and where a value lies on it.
    std::pair<double, double> ValueRange() const;
    QRectF PlotArea() const;
    double ValueToY(double value) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    struct RLayout {
        QRectF mPlot;
        RValueScale mValues;
        RTimeScale mTimes;
    };
    RLayout Layout() const;
    QFont AxisFont() const;
    QString ValueLabel(double v, const RValueScale &scale) const;
    QString TimeLabel(double t, const RTimeScale &scale) const;
    void FitExtents();

    std::vector<QPointF> FReadings;
    std::vector<RLevel> FLevels;
    QString FValueTitle;
    double FTimeFrom = 0;
    double FTimeTo = 1;
    // The finite readings' lowest and highest values; none while low > high.
    double FLow = 1;
    double FHigh = -1;
    // The wheel's offset of the value axis, in the reading's unit.
    double FPan = 0;
};
