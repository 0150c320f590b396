#pragma once

#include "TestDisplay.h"

#include <QtTest>

// Runs a test object, made with the display's name, on an Xvfb display of
// its own with a private runtime folder. The application finds its display
// through $DISPLAY as it connects: the display is started, and this process
// pointed at it, before the application is made.
template <typename Application, typename Test>
int runOnOwnDisplay(int argc, char *argv[])
{
    TestDisplay display;
    if (!display.start())
        qFatal("Xvfb did not start");
    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    qputenv("DISPLAY", display.name().toLatin1());
    qputenv("QT_QPA_PLATFORM", "xcb");
    Application app(argc, argv);
    Test test(display.name());
    return QTest::qExec(&test, argc, argv);
}
