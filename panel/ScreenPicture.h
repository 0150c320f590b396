#pragma once

#include <QFrame>
#include <QImage>

// The reduced picture of the screen: a sunken box whose drawing area keeps
// what was drawn into it across repaints.
class ScreenPicture : public QFrame
{
public:
    explicit ScreenPicture(QWidget *parent = nullptr);

    // The drawing area, in pixels of this widget.
    QRect drawingArea() const { return contentsRect(); }
    // What is drawn there; null while nothing is.
    const QImage &canvas() const { return m_canvas; }
    void setCanvas(QImage canvas);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_canvas;
};
