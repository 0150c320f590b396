#include "IniSettingsStore.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>

#include <cstdio>

void IniSettingsStore::showFailureNotice(const QString &file, const QString &reason)
{
    const QString text = QStringLiteral("Les réglages ne peuvent pas être enregistrés dans le fichier %1 : %2.\n"
                                        "Le programme continue, mais les réglages changés ne seront pas conservés.")
                             .arg(file, reason);
    std::fprintf(stderr, "%s\n", qPrintable(text));
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    // Not modal: the write may come from a tick, a drag or the shut-down,
    // none of which may wait for the user.
    auto *box = new QMessageBox(QMessageBox::Warning, QGuiApplication::applicationDisplayName(), text,
                                QMessageBox::Ok);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    // A box still open when the program ends goes with it.
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, QCoreApplication::instance(),
                     [box = QPointer<QMessageBox>(box)] { delete box.data(); });
    box->show();
}
