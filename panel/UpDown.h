#pragma once

#include <QWidget>
#include <functional>

class QLineEdit;
class QToolButton;

// A pair of arrows bound to a text box: a click steps the number the box
// shows by the increment, within the bounds, and writes the result back
// into the box.
class UpDown : public QWidget
{
public:
    UpDown(QLineEdit *buddy, QWidget *parent = nullptr);

    void setRange(int min, int max);
    int min() const { return m_min; }
    int max() const { return m_max; }
    void setIncrement(int increment) { m_increment = increment; }
    int value() const { return m_value; }

    // Steps by the increment times steps from the number in the text box,
    // or from the last value when the box holds no number.
    void stepBy(int steps);

    QToolButton *upButton() const { return m_up; }
    QToolButton *downButton() const { return m_down; }

    // Runs after each step, once the text box shows the new value.
    std::function<void()> onChange;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QLineEdit *m_buddy;
    QToolButton *m_up;
    QToolButton *m_down;
    int m_min = 0;
    int m_max = 100;
    int m_increment = 1;
    int m_value = 0;
};
