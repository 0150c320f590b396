#pragma once

#include <QColor>
#include <memory>
#include <optional>

class QWidget;

// The colour chooser of the dialog. Tests answer it themselves.
class ColourChooser
{
public:
    virtual ~ColourChooser() = default;
    // The colour the user chose, or nothing when they cancelled.
    virtual std::optional<QColor> choose(QWidget *parent) = 0;
};

// Qt's colour dialog, opening on the last colour it returned in this run
// (black at first).
class QtColourChooser : public ColourChooser
{
public:
    std::optional<QColor> choose(QWidget *parent) override;

private:
    QColor m_last = Qt::black;
};
