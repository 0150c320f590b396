#include "ScreenPicture.h"

#include <QPainter>

ScreenPicture::ScreenPicture(QWidget *parent)
    : QFrame(parent)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);
}

void ScreenPicture::setCanvas(QImage canvas)
{
    m_canvas = std::move(canvas);
    update();
}

void ScreenPicture::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    if (m_canvas.isNull())
        return;
    QPainter painter(this);
    painter.setClipRect(drawingArea());
    painter.drawImage(drawingArea().topLeft(), m_canvas);
}
