#include "Configuration.h"
#include "IniSettingsStore.h"
#include "MessageBox.h"
#include "SingleInstance.h"
#include "TerminationSignals.h"
#include "basPublics.h"
#include "frmHorloge.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

using namespace basPublics;

int main(int argc, char *argv[])
{
    // The clock places itself in global coordinates and stays above other
    // windows, which needs X11 (XWayland on a Wayland session).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tintarel"));
    QApplication::setApplicationDisplayName(applicationTitle);
    QApplication::setQuitOnLastWindowClosed(false);

    SingleInstance instance(QStringLiteral("tintarel"));
    if (!instance.tryToBecomeTheInstance()) {
        QApplication::setApplicationDisplayName(stoppingTitle);
        instance.activateRunningInstance();
        return 0;
    }

    IniSettingsStore store(IniSettingsStore::defaultFilePath());
    // A folder or a pipe in the file's place would leave the clock on its
    // defaults, saving nothing, without a word; the user has to move it.
    const QFileInfo settingsFile(store.location());
    if (settingsFile.exists() && !settingsFile.isFile()) {
        QMessageBox::critical(nullptr, applicationTitle,
                              QStringLiteral("%1 n'est pas un fichier : l'horloge ne peut ni y lire ni y "
                                             "enregistrer ses réglages.\n\nDéplacez-le ou renommez-le, "
                                             "puis redémarrez l'horloge.")
                                  .arg(store.location()));
        return 1;
    }
    SettingsError error;
    std::unique_ptr<Configuration> config = Configuration::create(store, &error);
    if (!config) {
        QString text = error.description();
        if (error.message.isEmpty())
            text += QStringLiteral("\n\nCorrigez ou supprimez ce réglage dans le fichier %1, "
                                   "puis redémarrez l'horloge.")
                        .arg(store.location());
        QMessageBox::critical(nullptr, applicationTitle, text);
        return 1;
    }

    QtMessageBox messages;
    frmHorloge form(*config, messages);
    instance.onActivationRequest = [&form] { form.bringForward(); };
    onTerminationSignal([&form] { form.Unload(); });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form, [&form] { form.Unload(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &form, [&form] { form.Unload(); });
    form.Load();

    return QApplication::exec();
}
