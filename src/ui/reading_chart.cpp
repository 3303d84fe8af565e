#include "ui/reading_chart.h"

#include <QFontMetricsF>
#include <QLocale>
#include <QPainter>
#include <QPen>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QColor kReadingColour(0xD0, 0x10, 0x10);

QColor Blend(const QColor &a, const QColor &b, double share)
{
    return QColor::fromRgbF(static_cast<float>(a.redF() * (1 - share) + b.redF() * share),
                            static_cast<float>(a.greenF() * (1 - share) + b.greenF() * share),
                            static_cast<float>(a.blueF() * (1 - share) + b.blueF() * share));
}

QLocale LabelLocale()
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale;
}

} // namespace

TReadingChart::TReadingChart(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void TReadingChart::SetTimeRange(double from, double to)
{
    FTimeFrom = std::isfinite(from) ? from : 0;
    FTimeTo = std::isfinite(to) && to > FTimeFrom ? to : FTimeFrom + 1;
    update();
}

void TReadingChart::SetReadings(std::vector<QPointF> readings)
{
    FReadings = std::move(readings);
    FitExtents();
    FPan = 0;
    update();
}

void TReadingChart::AddReading(const QPointF &reading)
{
    FReadings.push_back(reading);
    const double v = reading.y();
    if (std::isfinite(reading.x()) && std::isfinite(v) && (FLow > FHigh || v < FLow || v > FHigh)) {
        const RLayout before = Layout();
        FLow = FLow > FHigh ? v : std::min(FLow, v);
        FHigh = std::max(FHigh, v);
        // A pan stays while the fit does; once the axis grows it no longer applies.
        const RLayout after = Layout();
        if (after.mValues.mLow != before.mValues.mLow || after.mValues.mHigh != before.mValues.mHigh)
            FPan = 0;
    }
    update();
}

void TReadingChart::FitExtents()
{
    FLow = 1;
    FHigh = -1;
    for (const QPointF &p : FReadings) {
        if (!std::isfinite(p.x()) || !std::isfinite(p.y()))
            continue;
        FLow = FLow > FHigh ? p.y() : std::min(FLow, p.y());
        FHigh = std::max(FHigh, p.y());
    }
}

void TReadingChart::SetLevels(std::vector<RLevel> levels)
{
    FLevels = std::move(levels);
    FPan = 0;
    update();
}

void TReadingChart::SetValueTitle(const QString &title)
{
    FValueTitle = title;
    update();
}

QString TReadingChart::TimeTitle() const
{
    switch (Layout().mTimes.mUnit) {
    case ETimeUnit::kMinutes:
        return QStringLiteral("Time (min)");
    case ETimeUnit::kHours:
        return QStringLiteral("Time (h)");
    case ETimeUnit::kSeconds:
        break;
    }
    return QStringLiteral("Time (s)");
}

QFont TReadingChart::AxisFont() const
{
    QFont f = font();
    if (f.pixelSize() > 0)
        f.setPixelSize(std::max(9, f.pixelSize() * 9 / 10));
    else
        f.setPointSizeF(std::max(7.0, f.pointSizeF() * 0.9));
    return f;
}

QString TReadingChart::ValueLabel(double v, const RValueScale &scale) const
{
    return LabelLocale().toString(v, 'f', scale.mDecimals);
}

QString TReadingChart::TimeLabel(double t, const RTimeScale &scale) const
{
    return LabelLocale().toString(t / scale.mPerUnit, 'f', scale.mDecimals);
}

TReadingChart::RLayout TReadingChart::Layout() const
{
    const QFontMetricsF axis(AxisFont(), this);
    const QFontMetricsF title(font(), this);
    const double em = axis.height();
    const double pad = em * 0.5;
    const double tick = em * 0.3;
    const QRectF all(rect());
    RLayout l;

    // Rows: half a label above the top tick; ticks, labels and the title below.
    const double top = all.top() + pad + em * 0.5;
    const double bottom = all.bottom() - pad - title.height() - em * 0.2 - em - tick;
    const double plotHeight = std::max(1.0, bottom - top);
    std::vector<double> keep;
    keep.reserve(FLevels.size());
    for (const RLevel &level : FLevels)
        keep.push_back(level.mValue);
    const double none = std::numeric_limits<double>::quiet_NaN();
    l.mValues = FitValueScale(FLow > FHigh ? none : FLow, FLow > FHigh ? none : FHigh, keep, std::clamp(static_cast<int>(plotHeight / (em * 2.2)), 2, 12));
    const double pan = std::isfinite(FPan) ? FPan : 0;
    l.mValues.mLow += pan;
    l.mValues.mHigh += pan;

    // Columns: the rotated title and the widest value label on the left, half
    // a time label on the right.
    double labels = 0;
    for (const double v : TicksBetween(l.mValues.mLow, l.mValues.mHigh, l.mValues.mStep))
        labels = std::max(labels, axis.horizontalAdvance(ValueLabel(v, l.mValues)));
    const double left = all.left() + pad + title.height() + em * 0.4 + labels + tick;
    const double right = all.right() - pad - em * 1.2;
    const double plotWidth = std::max(1.0, right - left);
    l.mPlot = QRectF(left, top, plotWidth, plotHeight);

    // As many time ticks as their labels leave room for.
    const double span = FTimeTo - FTimeFrom;
    for (int n = std::clamp(static_cast<int>(plotWidth / (em * 2.5)), 1, 15); n >= 1; --n) {
        l.mTimes = FitTimeScale(span, n);
        double widest = 0;
        for (const double t : TicksBetween(FTimeFrom, FTimeTo, l.mTimes.mStep))
            widest = std::max(widest, axis.horizontalAdvance(TimeLabel(t, l.mTimes)));
        if (plotWidth * l.mTimes.mStep / span >= widest + em)
            break;
    }
    return l;
}

std::pair<double, double> TReadingChart::ValueRange() const
{
    const RLayout l = Layout();
    return {l.mValues.mLow, l.mValues.mHigh};
}

QRectF TReadingChart::PlotArea() const { return Layout().mPlot; }

double TReadingChart::ValueToY(double value) const
{
    const RLayout l = Layout();
    return TChartMap(l.mPlot, FTimeFrom, FTimeTo, l.mValues.mLow, l.mValues.mHigh).Y(value);
}

QSize TReadingChart::sizeHint() const
{
    const double em = QFontMetricsF(font(), this).height();
    return QSize(static_cast<int>(em * 26), static_cast<int>(em * 14));
}

QSize TReadingChart::minimumSizeHint() const
{
    const double em = QFontMetricsF(font(), this).height();
    return QSize(static_cast<int>(em * 12), static_cast<int>(em * 7));
}

void TReadingChart::paintEvent(QPaintEvent *)
{
    const RLayout l = Layout();
    const QRectF plot = l.mPlot;
    const TChartMap map(plot, FTimeFrom, FTimeTo, l.mValues.mLow, l.mValues.mHigh);
    const QFont axisFont = AxisFont();
    const QFontMetricsF axis(axisFont, this);
    const QFontMetricsF title(font(), this);
    const double em = axis.height();
    const double tick = em * 0.3;
    const QColor base = palette().color(QPalette::Base);
    const QColor text = palette().color(QPalette::Text);
    const QColor gridColour = Blend(base, text, 0.13);
    const QColor frameColour = Blend(base, text, 0.55);

    QPainter p(this);
    p.fillRect(rect(), base);

    // Grid, ticks and labels of both axes.
    p.setFont(axisFont);
    const std::vector<double> values = TicksBetween(l.mValues.mLow, l.mValues.mHigh, l.mValues.mStep);
    for (const double v : values) {
        const double y = map.Y(v);
        p.setPen(QPen(gridColour, 1));
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        p.setPen(QPen(frameColour, 1));
        p.drawLine(QPointF(plot.left() - tick, y), QPointF(plot.left(), y));
        p.setPen(text);
        const QRectF box(plot.left() - tick - em * 0.2 - em * 20, y - em / 2, em * 20, em);
        p.drawText(box, Qt::AlignRight | Qt::AlignVCenter, ValueLabel(v, l.mValues));
    }
    for (const double t : TicksBetween(FTimeFrom, FTimeTo, l.mTimes.mStep)) {
        const double x = map.X(t);
        p.setPen(QPen(gridColour, 1));
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        p.setPen(QPen(frameColour, 1));
        p.drawLine(QPointF(x, plot.bottom()), QPointF(x, plot.bottom() + tick));
        p.setPen(text);
        const QRectF box(x - em * 10, plot.bottom() + tick, em * 20, em);
        p.drawText(box, Qt::AlignHCenter | Qt::AlignTop, TimeLabel(t, l.mTimes));
    }
    p.setPen(QPen(frameColour, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(plot);

    // The titles: time centred below its labels, the value's turned along its axis.
    p.setFont(font());
    p.setPen(text);
    p.drawText(QRectF(plot.left(), plot.bottom() + tick + em + em * 0.2, plot.width(), title.height()),
               Qt::AlignHCenter | Qt::AlignTop, TimeTitle());
    p.save();
    p.translate(rect().left() + em * 0.5, plot.center().y());
    p.rotate(-90);
    p.drawText(QRectF(-plot.height() / 2, 0, plot.height(), title.height()), Qt::AlignHCenter | Qt::AlignTop,
               FValueTitle);
    p.restore();

    // Inside the plot: the levels' lines, the reading, then the levels' labels on top.
    p.setClipRect(plot.adjusted(-1, -1, 1, 1));
    for (const RLevel &level : FLevels) {
        if (!std::isfinite(level.mValue))
            continue;
        // Two pixels on whole rows, so both lines look alike wherever they fall.
        QPen pen(level.mColour, 2, Qt::DashLine);
        pen.setCapStyle(Qt::FlatCap);
        p.setPen(pen);
        const double y = std::round(map.Y(level.mValue));
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    }

    p.setRenderHint(QPainter::Antialiasing, true);
    QPen line(kReadingColour, 1.5);
    line.setJoinStyle(Qt::RoundJoin);
    line.setCapStyle(Qt::RoundCap);
    p.setPen(line);
    for (const QPolygonF &run : PlotRuns(FReadings, map)) {
        if (run.size() == 1) {
            p.setBrush(kReadingColour);
            p.drawEllipse(run.front(), 2.0, 2.0);
            p.setBrush(Qt::NoBrush);
        } else {
            // In short pieces that share their ends: a wide smooth line is
            // filled as one outline, and one outline of a thousand zigzags
            // fills far slower than many small ones.
            constexpr qsizetype kPiece = 32;
            for (qsizetype from = 0; from + 1 < run.size(); from += kPiece)
                p.drawPolyline(run.constData() + from, static_cast<int>(std::min(kPiece + 1, run.size() - from)));
        }
    }
    p.setRenderHint(QPainter::Antialiasing, false);

    // Labels at the right end, above their line; one that would cover the
    // label before it (levels close together) goes below its line instead.
    p.setFont(axisFont);
    std::vector<QRectF> placed;
    QColor backing = base;
    backing.setAlpha(210);
    for (const RLevel &level : FLevels) {
        if (!std::isfinite(level.mValue) || level.mLabel.isEmpty())
            continue;
        const double y = map.Y(level.mValue);
        const double w = axis.horizontalAdvance(level.mLabel) + em * 0.4;
        QRectF box(plot.right() - w - em * 0.3, y - em - 1, w, em);
        const auto covers = [&](const QRectF &r) {
            return std::any_of(placed.begin(), placed.end(), [&](const QRectF &o) { return o.intersects(r); });
        };
        if (box.top() < plot.top() || covers(box))
            box.moveTop(y + 2);
        if (covers(box))
            box.moveRight(box.left() - em * 0.5); // still in the way: beside the other
        placed.push_back(box);
        p.fillRect(box, backing);
        p.setPen(level.mColour.darker(115));
        p.drawText(box, Qt::AlignCenter, level.mLabel);
    }
}

void TReadingChart::wheelEvent(QWheelEvent *event)
{
    const RLayout l = Layout();
    const double perPixel = (l.mValues.mHigh - l.mValues.mLow) / std::max(1.0, l.mPlot.height());
    const double pan = FPan + event->angleDelta().y() / 8.0 * perPixel;
    if (std::isfinite(pan) && std::abs(pan) < 1e9)
        FPan = pan;
    update();
    event->accept();
}
