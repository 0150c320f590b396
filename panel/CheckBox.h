#pragma once

#include <QCheckBox>

// A check box whose value is the stored number: 0 unchecked, 1 checked and
// 2 greyed. A greyed box comes only from a stored value; the user's clicks
// go between checked and unchecked, from greyed to checked.
class CheckBox : public QCheckBox
{
public:
    using QCheckBox::QCheckBox;

    int value() const;
    // False for any value but 0, 1 and 2, which leaves the box as it was.
    bool setValue(int value);

protected:
    void nextCheckState() override;
};
