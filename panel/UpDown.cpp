#include "UpDown.h"

#include "PositionMapping.h"

#include <QLineEdit>
#include <QToolButton>

#include <algorithm>
#include <cmath>

UpDown::UpDown(QLineEdit *buddy, QWidget *parent)
    : QWidget(parent)
    , m_buddy(buddy)
    , m_up(new QToolButton(this))
    , m_down(new QToolButton(this))
{
    for (QToolButton *button : {m_up, m_down}) {
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
    }
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    connect(m_up, &QToolButton::clicked, this, [this] { stepBy(1); });
    connect(m_down, &QToolButton::clicked, this, [this] { stepBy(-1); });
}

void UpDown::setRange(int min, int max)
{
    m_min = min;
    m_max = max;
    m_value = std::clamp(m_value, m_min, m_max);
}

void UpDown::stepBy(int steps)
{
    int from = m_value;
    if (const auto shown = PositionMapping::readNumber(m_buddy->text()))
        from = int(std::clamp(std::floor(*shown), double(m_min), double(m_max)));
    m_value = std::clamp(from + steps * m_increment, m_min, m_max);
    const QString text = QString::number(m_value);
    // At a bound nothing changes, and nothing is reported.
    if (text == m_buddy->text())
        return;
    m_buddy->setText(text);
    if (onChange)
        onChange();
}

void UpDown::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    const int upper = height() / 2;
    m_up->setGeometry(0, 0, width(), upper);
    m_down->setGeometry(0, upper, width(), height() - upper);
}
