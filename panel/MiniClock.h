#pragma once

#include <QWidget>
#include <functional>

class QMouseEvent;

// The mini clock over the picture of the screen: a small box in the window
// background colour that the user drags. It only reports the mouse; the
// dialog moves it.
class MiniClock : public QWidget
{
public:
    explicit MiniClock(QWidget *parent = nullptr);

    std::function<void(QMouseEvent *)> onPress;
    std::function<void(QMouseEvent *)> onMove;
    std::function<void(QMouseEvent *)> onRelease;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
};

// The outline shown while the mini clock is dragged.
class DragOutline : public QWidget
{
public:
    explicit DragOutline(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
