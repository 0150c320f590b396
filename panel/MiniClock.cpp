#include "MiniClock.h"

#include <QMouseEvent>
#include <QPainter>

MiniClock::MiniClock(QWidget *parent)
    : QWidget(parent)
{
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
}

void MiniClock::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void MiniClock::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    if (onPress)
        onPress(event);
}

void MiniClock::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
    if (onMove)
        onMove(event);
}

void MiniClock::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    if (onRelease)
        onRelease(event);
}

DragOutline::DragOutline(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    hide();
}

void DragOutline::paintEvent(QPaintEvent *)
{
    // Black and white dashes stay visible on any picture.
    QPainter painter(this);
    const QRect box = rect().adjusted(0, 0, -1, -1);
    painter.setPen(QPen(Qt::white, 1));
    painter.drawRect(box);
    painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
    painter.drawRect(box);
}
