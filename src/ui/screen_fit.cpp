#include "ui/screen_fit.h"

#include <algorithm>

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

QRect UsableArea(const QRect &available, const QRect &whole)
{
    if (available.isEmpty())
        return available;
    QRect area = available;
    const int reserve = available == whole ? kDesktopPanelReserve : kTitleBarReserve;
    area.setHeight(std::max(1, available.height() - reserve));
    return area;
}

QRect UsableArea(const QScreen *screen)
{
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    return UsableArea(screen->availableGeometry(), screen->geometry());
}

QScreen *ScreenOf(const QRect &placement)
{
    if (QScreen *s = QGuiApplication::screenAt(placement.center()))
        return s;
    return QGuiApplication::primaryScreen();
}

QRect FitRect(const QRect &wanted, const QSize &minimum, const QRect &area)
{
    if (area.isEmpty())
        return wanted;
    const int width = std::min(std::max(wanted.width(), std::min(minimum.width(), area.width())), area.width());
    const int height = std::min(std::max(wanted.height(), std::min(minimum.height(), area.height())), area.height());
    const int left = std::clamp(wanted.left(), area.left(), area.left() + area.width() - width);
    const int top = std::clamp(wanted.top(), area.top(), area.top() + area.height() - height);
    return {left, top, width, height};
}

QMargins FrameMargins(const QWidget *window)
{
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    return {client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
            frame.bottom() - client.bottom()};
}

void PlaceWithin(QWidget *window, const QPoint &topLeft, const QSize &size, const QSize &minimum, const QRect &area)
{
    // The frame is placed; the client part is sized. Both are fitted as one.
    const QMargins m = FrameMargins(window);
    const QSize frame(m.left() + m.right(), m.top() + m.bottom());
    const QSize clientMinimum =
        area.isEmpty() ? minimum : minimum.boundedTo((area.size() - frame).expandedTo(QSize(1, 1)));
    window->setMinimumSize(clientMinimum);
    const QRect fitted = FitRect(QRect(topLeft, size + frame), clientMinimum + frame, area);
    const QSize client = (fitted.size() - frame).expandedTo(clientMinimum);
    if (client != window->size())
        window->resize(client);
    if (fitted.topLeft() != window->frameGeometry().topLeft())
        window->move(fitted.topLeft());
}

void FitToScreen(QWidget *window)
{
    if (!window)
        return;
    QScreen *screen = window->screen() ? window->screen() : ScreenOf(window->frameGeometry());
    const QRect area = UsableArea(screen);
    if (area.isEmpty())
        return;
    PlaceWithin(window, window->frameGeometry().topLeft(), window->size(), window->minimumSize(), area);
}
