#include "TestDisplay.h"

#include <QProcess>
#include <QSettings>
#include <QtTest>

#include <csignal>

// The real clock program on a display of its own: where and how large it
// opens, what it saves when asked to close, and its single instance.
class tst_ClockWindow : public QObject
{
    Q_OBJECT

private:
    const QString clockPath = QStringLiteral(TINTAREL_PROGRAM_DIR "/Tintarel");
    TestDisplay m_display;

    std::unique_ptr<TestProgram> startClock(const TestHome &home)
    {
        auto clock = std::make_unique<TestProgram>();
        clock->setProcessEnvironment(home.environment(m_display.name()));
        clock->setProcessChannelMode(QProcess::ForwardedChannels);
        clock->start(clockPath, {});
        clock->waitForStarted(10000);
        return clock;
    }

    static QString stored(const TestHome &home, const QString &key)
    {
        return QSettings(home.settingsFile(), QSettings::IniFormat).value(key).toString();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo::exists(clockPath), "the clock program is not built");
        QVERIFY(m_display.start());
    }

    void opensAtItsStoredPlaceAndSize_data()
    {
        QTest::addColumn<int>("calendrier");
        QTest::addColumn<int>("taille");
        QTest::addColumn<QSize>("size");
        // Twips at 15 to the pixel, rounded to whole pixels.
        QTest::newRow("small") << 0 << 0 << QSize(88, 28);
        QTest::newRow("large") << 0 << 1 << QSize(120, 37);
        QTest::newRow("small with date") << 1 << 0 << QSize(102, 60);
        QTest::newRow("large with date") << 1 << 1 << QSize(126, 73);
    }

    void opensAtItsStoredPlaceAndSize()
    {
        QFETCH(int, calendrier);
        QFETCH(int, taille);
        QFETCH(QSize, size);
        TestHome home;
        home.writeSettings(QStringLiteral("[Position]\nTop=1500\nLeft=3000\nTaille=%1\n"
                                          "[R%E9glages]\nCalendrier=%2\n")
                               .arg(taille)
                               .arg(calendrier)
                               .toLatin1());
        auto clock = startClock(home);
        DisplayObserver observer(m_display.name());
        QTRY_VERIFY_WITH_TIMEOUT(observer.faceOf(clock->processId()).has_value(), 15000);
        const SeenWindow window = *observer.faceOf(clock->processId());
        QCOMPARE(window.geometry, QRect(QPoint(200, 100), size));
        // The application window carries the title; the face has none.
        QVERIFY(observer.titledWindowOf(clock->processId(), QStringLiteral("Tintarel")).has_value());
        clock->terminate();
        QVERIFY(clock->waitForFinished(10000));
        QCOMPARE(stored(home, QStringLiteral("Position/Taille")), QString::number(taille));
    }

    void closeRequestSavesTheMovedPosition_data()
    {
        QTest::addColumn<int>("startPos");
        QTest::addColumn<QString>("top");
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("startPosAfter");
        QTest::newRow("last place") << 0 << "4500" << "6000" << "0";
        QTest::newRow("once at the chosen place") << 1 << "4500" << "6000" << "0";
        QTest::newRow("always at the chosen place") << 2 << "1500" << "3000" << "2";
    }

    void closeRequestSavesTheMovedPosition()
    {
        QFETCH(int, startPos);
        QFETCH(QString, top);
        QFETCH(QString, left);
        QFETCH(QString, startPosAfter);
        TestHome home;
        home.writeSettings(QStringLiteral("[Position]\nTop=1500\nLeft=3000\n[R%E9glages]\nStartPos=%1\n")
                               .arg(startPos)
                               .toLatin1());
        auto clock = startClock(home);
        DisplayObserver observer(m_display.name());
        QTRY_VERIFY_WITH_TIMEOUT(observer.faceOf(clock->processId()).has_value(), 15000);
        if (startPos == 1)
            QTRY_COMPARE(stored(home, QStringLiteral("Réglages/StartPos")), QStringLiteral("0"));

        const SeenWindow window = *observer.faceOf(clock->processId());
        observer.move(window.id, QPoint(400, 300));
        // No window manager here: the move is immediate, but the clock learns
        // of it through the event it is sent.
        QTRY_COMPARE(observer.faceOf(clock->processId())->geometry.topLeft(), QPoint(400, 300));

        const auto application = observer.titledWindowOf(clock->processId(), QStringLiteral("Tintarel"));
        QVERIFY(application);
        observer.requestClose(application->id);
        QVERIFY(clock->waitForFinished(10000));
        QCOMPARE(clock->exitCode(), 0);
        QCOMPARE(stored(home, QStringLiteral("Position/Top")), top);
        QCOMPARE(stored(home, QStringLiteral("Position/Left")), left);
        QCOMPARE(stored(home, QStringLiteral("Réglages/StartPos")), startPosAfter);
    }

    void secondStartEndsAndLeavesTheFirst()
    {
        TestHome home;
        auto first = startClock(home);
        DisplayObserver observer(m_display.name());
        QTRY_VERIFY_WITH_TIMEOUT(observer.faceOf(first->processId()).has_value(), 15000);
        const QByteArray before = home.readSettings();

        auto second = startClock(home);
        QVERIFY(second->waitForFinished(10000));
        QCOMPARE(second->exitCode(), 0);
        QVERIFY(observer.windowsOf(second->processId()).empty());
        QCOMPARE(first->state(), QProcess::Running);
        QCOMPARE(home.readSettings(), before);

        // A clock killed outright leaves its lock behind; it must not block.
        ::kill(pid_t(first->processId()), SIGKILL);
        QVERIFY(first->waitForFinished(10000));
        auto third = startClock(home);
        QTRY_VERIFY_WITH_TIMEOUT(observer.faceOf(third->processId()).has_value(), 15000);
        third->terminate();
        QVERIFY(third->waitForFinished(10000));
    }

    void unreadableSettingIsReportedAndNothingWritten()
    {
        TestHome home;
        const QByteArray ini("[Position]\nTop=1500\nLeft=99999\n[R%E9glages]\nCarillons=2\n");
        home.writeSettings(ini);
        auto clock = startClock(home);
        DisplayObserver observer(m_display.name());
        // The message box, titled with the program's name.
        QTRY_VERIFY_WITH_TIMEOUT(observer.titledWindowOf(clock->processId(), QStringLiteral("Tintarel")).has_value(), 15000);
        QVERIFY(!observer.faceOf(clock->processId()));
        observer.requestClose(observer.titledWindowOf(clock->processId(), QStringLiteral("Tintarel"))->id);
        QVERIFY(clock->waitForFinished(10000));
        QCOMPARE(clock->exitCode(), 1);
        QCOMPARE(home.readSettings(), ini);
    }
};

QTEST_GUILESS_MAIN(tst_ClockWindow)
#include "tst_clockwindow.moc"
