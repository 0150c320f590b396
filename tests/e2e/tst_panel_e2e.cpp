#include "TestDisplay.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSettings>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>

// The built configuration program and the built clock on a display of their
// own, with and without a window manager, driven from outside as a user,
// a window manager or the system would: every way the program ends brings
// the clock back, one dialog at a time, Enter and Escape, and a wallpaper
// that cannot be drawn.
class tst_PanelE2E : public QObject
{
    Q_OBJECT

private:
    // A bare display, and one that openbox manages; the rows choose.
    TestDisplay m_bare;
    TestDisplay m_managed;
    TestWindowManager m_windowManager;
    QString m_display;

    // Its output is the test's: a clock that the program starts inherits it,
    // and outlives any pipe.
    std::unique_ptr<TestProgram> start(const QString &program, const TestHome &home, const QStringList &arguments = {},
                                       const QString &desktop = QString())
    {
        auto process = std::make_unique<TestProgram>();
        QProcessEnvironment environment = home.environment(m_display);
        environment.remove(QStringLiteral("XDG_CURRENT_DESKTOP"));
        if (!desktop.isEmpty())
            environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), desktop);
        // The start with the session is machine-wide: kept in the home too.
        environment.insert(QStringLiteral("XDG_CONFIG_DIRS"), home.path() + QStringLiteral("/xdg"));
        process->setProcessEnvironment(environment);
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        process->start(QStringLiteral(TINTAREL_PROGRAM_DIR "/") + program, arguments);
        process->waitForStarted(10000);
        return process;
    }

    QString x(const QString &tool, const QStringList &arguments) { return xTool(m_display, tool, arguments); }

    // The mapped windows of a process, wherever a window manager has put
    // them; the dialog is the one whose title names the chime clock.
    QStringList windowsOf(qint64 pid, const QString &title = QString())
    {
        QStringList arguments{"search", "--all", "--onlyvisible", "--pid", QString::number(pid)};
        if (!title.isEmpty())
            arguments << "--name" << title;
        return x("xdotool", arguments).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QString dialogOf(qint64 pid)
    {
        const QStringList found = windowsOf(pid, QStringLiteral("carillon$"));
        return found.size() == 1 ? found.first() : QString();
    }
    QStringList boxOf(qint64 pid) { return windowsOf(pid, QStringLiteral("^TintarelPanel$")); }

    // Clocks of this test's home, started by anyone: the panel starts its
    // clock detached, so it is no child of the test.
    QList<qint64> clocksOf(const TestHome &home) const
    {
        QList<qint64> found;
        const QByteArray marker = "HOME=" + QFile::encodeName(home.path());
        for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            QFile environ(QStringLiteral("/proc/%1/environ").arg(entry));
            if (QFileInfo(QStringLiteral("/proc/%1/exe").arg(entry)).symLinkTarget() == TINTAREL_PROGRAM_DIR "/Tintarel"
                && environ.open(QIODevice::ReadOnly) && environ.readAll().split('\0').contains(marker))
                found << entry.toLongLong();
        }
        return found;
    }
    bool clockShows(const TestHome &home)
    {
        const QList<qint64> clocks = clocksOf(home);
        return clocks.size() == 1 && !windowsOf(clocks.first()).isEmpty();
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

    // A click at a point of the dialog given in twips, with the real pointer.
    void clickAt(const QString &window, int leftTwips, int topTwips)
    {
        x("xdotool", {"mousemove", "--sync", "--window", window, QString::number(leftTwips / 15),
                      QString::number(topTwips / 15), "click", "1"});
    }
    void keys(const QString &window, const QStringList &names)
    {
        x("xdotool", QStringList{"windowfocus", "--sync", window, "key", "--delay", "50"} + names);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo::exists(TINTAREL_PROGRAM_DIR "/TintarelPanel"), "the configuration program is not built");
        QVERIFY(m_bare.start());
        QVERIFY(m_managed.start());
        QVERIFY(m_windowManager.start(m_managed.name()));
    }

    void everyEndingBringsTheClockBack_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<bool>("windowManager");
        QTest::addColumn<QString>("desktop");
        QTest::newRow("close button") << "close" << false << "";
        QTest::newRow("Alt+F4, openbox") << "alt+F4" << true << "";
        QTest::newRow("Escape, openbox, KDE") << "Escape" << true << "KDE";
        QTest::newRow("Enter, no desktop") << "Return" << false << "";
        QTest::newRow("Enter, GNOME, openbox") << "Return" << true << "GNOME";
        QTest::newRow("SIGTERM") << "SIGTERM" << false << "";
        QTest::newRow("SIGHUP, openbox") << "SIGHUP" << true << "";
        QTest::newRow("SIGINT") << "SIGINT" << false << "";
        QTest::newRow("X connection killed, openbox") << "xkill" << true << "";
        QTest::newRow("emptied field, Annuler") << "empty field" << false << "";
    }
    void everyEndingBringsTheClockBack()
    {
        QFETCH(QString, ending);
        QFETCH(bool, windowManager);
        QFETCH(QString, desktop);
        m_display = (windowManager ? m_managed : m_bare).name();
        TestHome home;
        home.writeSettings("[R%E9glages]\nStartPos=2\nCarillons=2\n");
        auto clock = start("Tintarel", home);
        QTRY_VERIFY_WITH_TIMEOUT(!windowsOf(clock->processId()).isEmpty(), 60000);
        auto panel = start("TintarelPanel", home, {}, desktop);
        // GNOME names a wallpaper that a bare system lacks, which the load tells.
        QTRY_VERIFY_WITH_TIMEOUT(!dialogOf(panel->processId()).isEmpty() || !boxOf(panel->processId()).isEmpty(), 60000);
        for (const QString &box : boxOf(panel->processId()))
            keys(box, {"Return"});
        QTRY_VERIFY_WITH_TIMEOUT(!dialogOf(panel->processId()).isEmpty(), 60000);
        clock->waitForFinished(5000);
        QVERIFY(clocksOf(home).isEmpty());
        const QString dialog = dialogOf(panel->processId());

        QElapsedTimer sinceEnding;
        sinceEnding.start();
        if (ending == "close") {
            DisplayObserver(m_display).requestClose(dialog.toUInt());
        } else if (ending == "Escape" || ending == "alt+F4") {
            keys(dialog, {ending});
        } else if (ending == "Return") {
            // From the check box after the chime options, which a GTK style
            // would toggle on Enter.
            keys(dialog, {"Tab", "Return"});
        } else if (ending.startsWith("SIG")) {
            ::kill(pid_t(panel->processId()), ending == "SIGTERM" ? SIGTERM : ending == "SIGHUP" ? SIGHUP : SIGINT);
        } else if (ending == "xkill") {
            x("xkill", {"-id", dialog});
        } else {
            // The horizontal field emptied, then Annuler pressed at once.
            x("xdotool", {"windowfocus", "--sync", dialog});
            clickAt(dialog, 787, 6742);
            keys(dialog, {"ctrl+a", "BackSpace"});
            clickAt(dialog, 3667, 7717);
        }
        QVERIFY(panel->waitForFinished(15000));
        // A signal ends it through its unload, not by the signal's default.
        QCOMPARE(panel->exitStatus(), QProcess::NormalExit);
        QTRY_VERIFY_WITH_TIMEOUT(clockShows(home), 60000);
        qInfo("%s: clock back after %lld ms", QTest::currentDataTag(), sinceEnding.elapsed());

        // Only Enter stores, and it stores what the dialog showed: no check
        // box toggled on the way, so no start with the session either.
        const bool stores = ending == "Return";
        QCOMPARE(stored(home, QStringLiteral("Réglages/Visibilité")), stores ? QStringLiteral("2") : QString());
        QCOMPARE(stored(home, QStringLiteral("Réglages/Carillons")), QStringLiteral("2"));
        QCOMPARE(stored(home, QStringLiteral("Réglages/EnumHeures")), stores ? QStringLiteral("1") : QString());
        QVERIFY(QDir(home.path() + QStringLiteral("/xdg/autostart")).isEmpty());
        endClocksOf(home);
    }

    void aSecondStartBringsTheDialogForward_data()
    {
        QTest::addColumn<QStringList>("secondArguments");
        QTest::addColumn<bool>("windowManager");
        QTest::newRow("from the menu twice") << QStringList() << false;
        QTest::newRow("from the menu, then from the clock, openbox") << QStringList{"AffichHorloge"} << true;
    }
    void aSecondStartBringsTheDialogForward()
    {
        QFETCH(QStringList, secondArguments);
        QFETCH(bool, windowManager);
        m_display = (windowManager ? m_managed : m_bare).name();
        TestHome home;
        auto clock = start("Tintarel", home);
        QTRY_VERIFY_WITH_TIMEOUT(!windowsOf(clock->processId()).isEmpty(), 60000);
        auto first = start("TintarelPanel", home);
        QTest::qWait(300);
        auto second = start("TintarelPanel", home, secondArguments);
        QVERIFY(second->waitForFinished(15000));
        QCOMPARE(second->exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(!dialogOf(first->processId()).isEmpty(), 20000);
        QVERIFY(windowsOf(second->processId()).isEmpty());
        QVERIFY(clocksOf(home).isEmpty());
        QVERIFY(stored(home, "Réglages/Visibilité").isEmpty());
        if (windowManager) {
            // Put away by the user, the dialog comes back at the next start.
            x("xdotool", {"windowminimize", "--sync", dialogOf(first->processId())});
            QVERIFY(start("TintarelPanel", home, secondArguments)->waitForFinished(15000));
            QTRY_VERIFY_WITH_TIMEOUT(!dialogOf(first->processId()).isEmpty(), 20000);
        }

        DisplayObserver(m_display).requestClose(dialogOf(first->processId()).toUInt());
        QVERIFY(first->waitForFinished(15000));
        QTRY_VERIFY_WITH_TIMEOUT(clockShows(home), 60000);
        endClocksOf(home);
    }

    // A wallpaper that is a folder or a FIFO is told, and the
    // dialog shows all the same and closes normally. It is named as Xfce
    // names it; a slideshow is read before any picture, so a FIFO there names
    // none and there is nothing to tell.
    void badWallpaper_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("told");
        QTest::newRow("folder") << "wallpaper.png" << "folder" << true;
        QTest::newRow("FIFO") << "wallpaper.png" << "FIFO" << true;
        QTest::newRow("FIFO slideshow") << "slideshow.xml" << "FIFO" << false;
    }
    void badWallpaper()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(bool, told);
        m_display = m_bare.name();
        TestHome home;
        home.writeSettings("[R%E9glages]\nCarillons=0\nVisibilit%E9=0\n"); // closing asks nothing
        const QString wallpaper = home.path() + QLatin1Char('/') + name;
        QVERIFY(kind == "folder" ? QDir().mkdir(wallpaper) : ::mkfifo(QFile::encodeName(wallpaper).constData(), 0644) == 0);
        const QString channel = home.configHome() + QStringLiteral("/xfce4/xfconf/xfce-perchannel-xml");
        QFile desktop(channel + QStringLiteral("/xfce4-desktop.xml"));
        QVERIFY(QDir().mkpath(channel) && desktop.open(QIODevice::WriteOnly));
        desktop.write("<channel name=\"xfce4-desktop\" version=\"1.0\">\n  <property name=\"last-image\" "
                      "type=\"string\" value=\"" + QFile::encodeName(wallpaper) + "\"/>\n</channel>\n");
        desktop.close();

        auto panel = start("TintarelPanel", home, {}, QStringLiteral("XFCE"));
        if (told) { // before the dialog shows
            QTRY_VERIFY_WITH_TIMEOUT(!boxOf(panel->processId()).isEmpty(), 20000);
            DisplayObserver(m_display).requestClose(boxOf(panel->processId()).first().toUInt());
        }
        QTRY_VERIFY_WITH_TIMEOUT(!dialogOf(panel->processId()).isEmpty(), 20000);
        QVERIFY(boxOf(panel->processId()).isEmpty());
        DisplayObserver(m_display).requestClose(dialogOf(panel->processId()).toUInt());
        QVERIFY(panel->waitForFinished(20000));
        QCOMPARE(panel->exitStatus(), QProcess::NormalExit);
        QCOMPARE(panel->exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_PanelE2E)
#include "tst_panel_e2e.moc"
