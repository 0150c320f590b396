#pragma once

#include "TestDisplay.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// Runs a test object on an Xvfb display of its own, with a private runtime
// folder. Code that finds its display through $DISPLAY and the
// application's own X connection needs the display started, and this
// process pointed at it, before the application connects. The test object
// is made with the display's name.
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
