#pragma once

#include <QString>

// The message boxes both programs show. Tests replace it to read the texts
// and to answer questions.
class MessageBox
{
public:
    enum class Icon { None, Information, Warning, Critical, Question };
    enum class Buttons { Ok, YesNo };
    enum class Answer { Ok, Yes, No };

    virtual ~MessageBox() = default;
    // Shows a modal box and returns the button pressed. With Yes/No the
    // first button (Yes) is the default.
    virtual Answer show(const QString &caption, const QString &text, Icon icon, Buttons buttons) = 0;
};

// Qt message boxes.
class QtMessageBox : public MessageBox
{
public:
    Answer show(const QString &caption, const QString &text, Icon icon, Buttons buttons) override;
};
