#include "HelpWindow.h"

#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

HelpWindow::HelpWindow(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_browser(new QTextBrowser(this))
{
    setWindowTitle(QStringLiteral("Aide de l'horloge à carillon"));
    // Open help must not keep the program alive once the dialog is gone.
    setAttribute(Qt::WA_QuitOnClose, false);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_browser);
    m_browser->setOpenExternalLinks(false);
    resize(480, 420);
}

QString HelpWindow::anchor(int topic)
{
    return QStringLiteral("sujet%1").arg(topic);
}

bool HelpWindow::showTopic(const QString &helpFile, int topic)
{
    const QFileInfo file(helpFile);
    if (!file.isFile() || !file.isReadable())
        return false;
    QUrl url = QUrl::fromLocalFile(file.absoluteFilePath());
    url.setFragment(anchor(topic));
    m_browser->setSource(url, QTextDocument::HtmlResource);
    m_topic = topic;
    show();
    raise();
    activateWindow();
    return true;
}
