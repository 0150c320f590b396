#include "ChimePlayer.h"
#include "ClockControl.h"
#include "ColourChooser.h"
#include "IniSettingsStore.h"
#include "MessageBox.h"
#include "ProgramFolder.h"
#include "SingleInstance.h"
#include "StartupLibrary.h"
#include "TerminationSignals.h"
#include "basPublics.h"
#include "frmConfig.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // The position editor works in global screen coordinates and paints the
    // desktop where it lies, which needs X11 (XWayland on a Wayland session).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");

    // Before the application object: it forks the helper that starts the
    // clock again should this program end without its window (a lost X
    // connection ends a Qt program on the spot).
    const auto clock = makeClockControl();

    QApplication app(argc, argv);
    // The settings file is the clock's. No display name: Qt would append it
    // to every window title.
    QApplication::setApplicationName(QStringLiteral("Tintarel"));

    // One dialog per user and display: a second start brings the first
    // forward and ends, having taken nothing down and stored nothing.
    SingleInstance instance(QStringLiteral("tintarelpanel"));
    if (!instance.tryToBecomeTheInstance()) {
        instance.activateRunningInstance();
        return 0;
    }

    QtMessageBox messages;
    StartupLibrary::setMessageBox(&messages);
    const auto player = makeChimePlayer();
    QtColourChooser colours;
    IniSettingsStore store(IniSettingsStore::defaultFilePath());

    frmConfig form({messages, *clock, *player, colours, store, nullptr, programFolder(), {}, {}});
    instance.onActivationRequest = [&form] { form.bringForward(); };
    // Endings from outside run the same unload as the dialog's own.
    onTerminationSignal([&form] { form.Unload(); });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form, [&form] { form.Unload(); });
    form.Load(QApplication::arguments().mid(1).join(QLatin1Char(' ')));
    if (form.isUnloaded())
        return 0;
    form.show();
    return QApplication::exec();
}
