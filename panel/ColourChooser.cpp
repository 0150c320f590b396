#include "ColourChooser.h"

#include <QColorDialog>

std::optional<QColor> QtColourChooser::choose(QWidget *parent)
{
    const QColor chosen = QColorDialog::getColor(m_last, parent);
    if (!chosen.isValid())
        return std::nullopt;
    m_last = chosen;
    return chosen;
}
