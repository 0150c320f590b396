#include "ChimePlayer.h"
#include "ClockControl.h"
#include "ColourChooser.h"
#include "IniSettingsStore.h"
#include "MessageBox.h"
#include "ProgramFolder.h"
#include "StartupLibrary.h"
#include "basPublics.h"
#include "frmConfig.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // The position editor works in global screen coordinates and paints the
    // desktop where it lies, which needs X11 (XWayland on a Wayland session).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");

    QApplication app(argc, argv);
    // The settings file is the clock's. No display name: Qt would append it
    // to every window title.
    QApplication::setApplicationName(QStringLiteral("Tintarel"));

    QtMessageBox messages;
    StartupLibrary::setMessageBox(&messages);
    const auto clock = makeClockControl();
    const auto player = makeChimePlayer();
    QtColourChooser colours;
    IniSettingsStore store(IniSettingsStore::defaultFilePath());

    frmConfig form({messages, *clock, *player, colours, store, nullptr, programFolder(), {}, {}});
    form.Load(QApplication::arguments().mid(1).join(QLatin1Char(' ')));
    form.show();
    return QApplication::exec();
}
