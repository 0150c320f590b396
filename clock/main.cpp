#include "Configuration.h"
#include "IniSettingsStore.h"
#include "MessageBox.h"
#include "SingleInstance.h"
#include "TerminationSignals.h"
#include "basPublics.h"
#include "frmHorloge.h"

#include <QApplication>
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
    setConfig(config.get());

    QtMessageBox messages;
    frmHorloge form(*config, messages);
    instance.onActivationRequest = [&form] { form.bringForward(); };
    onTerminationSignal([&form] { form.Unload(); });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form, [&form] { form.Unload(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &form, [&form] { form.Unload(); });
    form.Load();

    const int result = QApplication::exec();
    setConfig(nullptr);
    return result;
}
