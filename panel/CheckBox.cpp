#include "CheckBox.h"

int CheckBox::value() const
{
    switch (checkState()) {
    case Qt::Unchecked: return 0;
    case Qt::Checked: return 1;
    case Qt::PartiallyChecked: return 2;
    }
    return 0;
}

bool CheckBox::setValue(int value)
{
    switch (value) {
    case 0: setTristate(false); setCheckState(Qt::Unchecked); return true;
    case 1: setTristate(false); setCheckState(Qt::Checked); return true;
    // Qt makes the box tristate for this; nextCheckState() undoes it on a click.
    case 2: setCheckState(Qt::PartiallyChecked); return true;
    default: return false;
    }
}

void CheckBox::nextCheckState()
{
    const Qt::CheckState next = checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked;
    setTristate(false);
    setCheckState(next);
}
