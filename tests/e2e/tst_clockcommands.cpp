#include "TestDisplay.h"

#include <QDir>
#include <QSettings>
#include <QtTest>

// The user's double-click on the real clock: it opens the configuration
// program (a stand-in that records its arguments), or tells that there is
// none. A double-click during a chime is the chime test's.
class tst_ClockCommands : public QObject
{
    Q_OBJECT

private:
    TestDisplay m_display;

    // A program folder of the test's own, with a stand-in configuration
    // program that records its arguments, or none.
    static void makeProgramFolder(const QString &folder, bool withPanel)
    {
        QVERIFY(copyProgramFolder(folder));
        QFile panel(folder + QStringLiteral("/TintarelPanel"));
        QVERIFY(panel.remove());
        if (withPanel) {
            QVERIFY(panel.open(QIODevice::WriteOnly));
            panel.write("#!/bin/sh\nprintf '%s|' \"$@\" > \"$PWD/panel-arguments\"\n");
            panel.close();
            panel.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
    }

    static ClockOptions from(const QString &folder)
    {
        ClockOptions options;
        options.folder = folder;
        return options;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_display.start()); }

    // The clock closes, keeping its place, once the program is started or,
    // when there is none, once the user has closed the box that tells it.
    void doubleClickOpensTheConfigurationAndCloses_data()
    {
        QTest::addColumn<bool>("panelThere");
        QTest::newRow("configuration program there") << true;
        QTest::newRow("no configuration program") << false;
    }
    void doubleClickOpensTheConfigurationAndCloses()
    {
        QFETCH(bool, panelThere);
        TestHome home;
        QTemporaryDir folder;
        makeProgramFolder(folder.path(), panelThere);
        home.writeSettings("[Position]\nTop=1500\nLeft=3000\n");
        auto clock = startClock(home, m_display.name(), from(folder.path()));
        DisplayObserver observer(m_display.name());
        QTRY_VERIFY_WITH_TIMEOUT(observer.faceOf(clock->processId()).has_value(), 15000);
        QVERIFY(doubleClickAt(m_display.name(), observer.faceOf(clock->processId())->geometry.center()));
        if (!panelThere) {
            const auto box = [&] { return observer.titledWindowOf(clock->processId(), QStringLiteral("Tintarel"), true); };
            QTRY_VERIFY_WITH_TIMEOUT(box().has_value(), 10000);
            QCOMPARE(clock->state(), QProcess::Running);
            observer.requestClose(box()->id);
        }
        QVERIFY(clock->waitForFinished(10000));
        QCOMPARE(clock->exitCode(), 0);
        QFile arguments(folder.filePath(QStringLiteral("panel-arguments")));
        if (panelThere) {
            QTRY_VERIFY(arguments.exists());
            QVERIFY(arguments.open(QIODevice::ReadOnly));
            QCOMPARE(arguments.readAll(), QByteArray("AffichHorloge|"));
        }
        const QSettings stored(home.settingsFile(), QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("Position/Top")).toString(), QStringLiteral("1500"));
        QCOMPARE(stored.value(QStringLiteral("Position/Left")).toString(), QStringLiteral("3000"));
    }
};

QTEST_GUILESS_MAIN(tst_ClockCommands)
#include "tst_clockcommands.moc"
