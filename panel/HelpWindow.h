#pragma once

#include <QString>
#include <QWidget>

class QTextBrowser;

// The program's help viewer: the help file's HTML in a window of its own,
// scrolled to the section of one topic number.
class HelpWindow : public QWidget
{
public:
    explicit HelpWindow(QWidget *parent = nullptr);

    // False when the file cannot be read; the window then stays as it was.
    bool showTopic(const QString &helpFile, int topic);
    int topic() const { return m_topic; }
    QTextBrowser *browser() const { return m_browser; }

    // The anchor name of a topic in the help file.
    static QString anchor(int topic);

private:
    QTextBrowser *m_browser;
    int m_topic = 0;
};
