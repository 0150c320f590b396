#include "TestDisplay.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSettings>
#include <QtTest>

#include <csignal>

// The built configuration program on a display of its own: how fast its
// dialog shows, OK through real pointer input into the real settings file,
// and the clock taken down and started again around it.
class tst_PanelE2E : public QObject
{
    Q_OBJECT

private:
    const QString panelPath = QStringLiteral(TINTAREL_PROGRAM_DIR "/TintarelPanel");
    const QString clockPath = QStringLiteral(TINTAREL_PROGRAM_DIR "/Tintarel");
    const QString dialogTitle = QStringLiteral("Configuration de l'horloge à carillon");
    TestDisplay m_display;

    std::unique_ptr<TestProgram> start(const QString &program, const TestHome &home,
                                       const QStringList &arguments = {})
    {
        auto process = std::make_unique<TestProgram>();
        process->setProcessEnvironment(home.environment(m_display.name()));
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        process->start(program, arguments);
        process->waitForStarted(10000);
        return process;
    }

    // Clocks of this test's home, started by anyone: the panel starts its
    // clock detached, so it is no child of the test.
    QList<qint64> clocksOf(const TestHome &home) const
    {
        QList<qint64> found;
        const QByteArray marker = "HOME=" + QFile::encodeName(home.path());
        for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            bool isPid = false;
            const qint64 pid = entry.toLongLong(&isPid);
            if (!isPid || QFileInfo(QStringLiteral("/proc/%1/exe").arg(entry)).symLinkTarget() != clockPath)
                continue;
            QFile environ(QStringLiteral("/proc/%1/environ").arg(entry));
            if (environ.open(QIODevice::ReadOnly) && environ.readAll().split('\0').contains(marker))
                found << pid;
        }
        return found;
    }

    void endClocksOf(const TestHome &home)
    {
        for (qint64 pid : clocksOf(home))
            ::kill(pid_t(pid), SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(clocksOf(home).isEmpty(), 10000);
    }

    static QString stored(const TestHome &home, const QString &key)
    {
        return QSettings(home.settingsFile(), QSettings::IniFormat).value(key).toString();
    }

    // Clicks at a point of the screen with the real pointer (XTest).
    bool clickAt(QPoint point)
    {
        QProcess xdotool;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("DISPLAY"), m_display.name());
        xdotool.setProcessEnvironment(environment);
        xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QString::number(point.x()),
                                                  QString::number(point.y()), QStringLiteral("click"),
                                                  QStringLiteral("1")});
        return xdotool.waitForFinished(10000) && xdotool.exitCode() == 0;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo::exists(panelPath), "the configuration program is not built");
        QVERIFY(m_display.start(QStringLiteral("1280x1024x24")));
    }

    void dialogOpensCentredAndQuickly()
    {
        TestHome home;
        DisplayObserver observer(m_display.name());
        QElapsedTimer clock;
        clock.start();
        auto panel = start(panelPath, home);
        QTRY_VERIFY_WITH_TIMEOUT(observer.titledWindowOf(panel->processId(), dialogTitle).has_value(), 15000);
        const qint64 shownAfter = clock.elapsed();
        qInfo("start to dialog shown: %lld ms", shownAfter);
        const SeenWindow dialog = *observer.titledWindowOf(panel->processId(), dialogTitle);
        QCOMPARE(dialog.geometry.size(), QSize(499, 534));
        QCOMPARE(dialog.geometry.center(), QPoint(639, 511));

        // The close button: no clock ran, the defaults are not both 0, so
        // the user is asked; closing the question answers No.
        observer.requestClose(dialog.id);
        const QString questionTitle = QStringLiteral("Configuration de l'horloge");
        QTRY_VERIFY_WITH_TIMEOUT(observer.titledWindowOf(panel->processId(), questionTitle).has_value(), 10000);
        observer.requestClose(observer.titledWindowOf(panel->processId(), questionTitle)->id);
        QVERIFY(panel->waitForFinished(10000));
        QCOMPARE(panel->exitCode(), 0);
        QVERIFY(clocksOf(home).isEmpty());
        QVERIFY(!QFileInfo::exists(home.settingsFile()));
    }

    void okStoresIntoTheSettingsFile()
    {
        TestHome home;
        // Not whole pixels: what is written back is what the fields showed.
        home.writeSettings("[R%E9glages]\nCarillons=1\nStartPos=2\n[Position]\nLeft=1507\nTop=757\n");
        DisplayObserver observer(m_display.name());
        auto panel = start(panelPath, home, {QStringLiteral("AffichHorloge")});
        QTRY_VERIFY_WITH_TIMEOUT(observer.titledWindowOf(panel->processId(), dialogTitle).has_value(), 15000);
        const QRect dialog = observer.titledWindowOf(panel->processId(), dialogTitle)->geometry;
        // "OK" lies at 120, 7560 twips, 2295 × 315: its middle at (84, 514) pixels.
        QVERIFY(clickAt(dialog.topLeft() + QPoint(84, 514)));
        QVERIFY(panel->waitForFinished(10000));
        QCOMPARE(panel->exitCode(), 0);
        QCOMPARE(stored(home, QStringLiteral("Réglages/Carillons")), QStringLiteral("1"));
        QCOMPARE(stored(home, QStringLiteral("Réglages/Visibilité")), QStringLiteral("2"));
        QCOMPARE(stored(home, QStringLiteral("Plage/Debut")), QStringLiteral("10:00:00"));
        QCOMPARE(stored(home, QStringLiteral("Réglages/BackColor")), QStringLiteral("-2147483633"));
        QCOMPARE(stored(home, QStringLiteral("Position/Left")), QStringLiteral("1500"));
        QCOMPARE(stored(home, QStringLiteral("Position/Top")), QStringLiteral("750"));
        // Started by the clock: the clock comes back without a question.
        QTRY_COMPARE_WITH_TIMEOUT(clocksOf(home).size(), 1, 15000);
        endClocksOf(home);
    }

    void aRunningClockIsTakenDownAndStartedAgain()
    {
        TestHome home;
        home.writeSettings("[Position]\nLeft=3000\nTop=1500\n");
        DisplayObserver observer(m_display.name());
        auto clock = start(clockPath, home);
        QTRY_VERIFY_WITH_TIMEOUT(observer.faceOf(clock->processId()).has_value(), 15000);
        observer.move(observer.faceOf(clock->processId())->id, QPoint(300, 200));
        QTRY_COMPARE(observer.faceOf(clock->processId())->geometry.topLeft(), QPoint(300, 200));

        auto panel = start(panelPath, home);
        // The clock is closed before the dialog reads the settings, so the
        // dialog shows the place the clock saved on its way out.
        QVERIFY(clock->waitForFinished(15000));
        QTRY_VERIFY_WITH_TIMEOUT(observer.titledWindowOf(panel->processId(), dialogTitle).has_value(), 15000);
        QCOMPARE(stored(home, QStringLiteral("Position/Left")), QStringLiteral("4500"));
        QVERIFY(clocksOf(home).isEmpty());

        observer.requestClose(observer.titledWindowOf(panel->processId(), dialogTitle)->id);
        QVERIFY(panel->waitForFinished(10000));
        QTRY_COMPARE_WITH_TIMEOUT(clocksOf(home).size(), 1, 15000);
        const qint64 restarted = clocksOf(home).first();
        QTRY_VERIFY_WITH_TIMEOUT(observer.faceOf(restarted).has_value(), 15000);
        QCOMPARE(observer.faceOf(restarted)->geometry.topLeft(), QPoint(300, 200));
        endClocksOf(home);
    }
};

QTEST_GUILESS_MAIN(tst_PanelE2E)
#include "tst_panel_e2e.moc"
