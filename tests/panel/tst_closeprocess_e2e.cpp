#include "OwnDisplayMain.h"
#include "basProcess.h"

#include <QApplication>
#include <QSettings>
#include <QtTest>

#include <pwd.h>
#include <unistd.h>

// CloseProcess on real processes and windows of a display of the test's own:
// the real clock, and stand-ins that record the close requests they receive.
class tst_CloseProcessE2E : public QObject
{
    Q_OBJECT

public:
    explicit tst_CloseProcessE2E(QString display)
        : m_display(std::move(display))
    {
    }

private:
    QString m_display;
    TestHome m_home;
    QTemporaryDir m_programs;

    // The stand-in under a file name of our choice, in a folder anyone may read.
    QString standIn(const QString &name)
    {
        const QString path = m_programs.path() + QLatin1Char('/') + name;
        if (!QFileInfo::exists(path))
            QFile::copy(QStringLiteral(STAND_IN_PATH), path);
        return path;
    }
    std::unique_ptr<TestProgram> start(const QString &program, const QStringList &arguments,
                                       const QString &display = QString())
    {
        auto process = std::make_unique<TestProgram>();
        process->setProcessEnvironment(m_home.environment(display.isEmpty() ? m_display : display));
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(program, arguments);
        process->waitForStarted(10000);
        return process;
    }
    static bool hasWindow(const QString &display, qint64 pid, const QString &title)
    {
        DisplayObserver observer(display);
        for (const SeenWindow &w : observer.windowsOf(pid))
            if (w.title == title && w.mapped)
                return true;
        return false;
    }
    static QStringList requestsReceived(TestProgram &program)
    {
        QStringList titles;
        for (const QByteArray &line : program.readAllStandardOutput().split('\n'))
            if (line.startsWith("close ["))
                titles << QString::fromUtf8(line.mid(7, line.size() - 8));
        return titles;
    }
    static void closeClocks()
    {
        basProcess::CloseProcess(basProcess::ClockExecutable);
    }
    // The waits of CloseProcess run the event loop, where QProcess may already
    // have seen its program end.
    static bool ended(TestProgram &program)
    {
        return program.state() == QProcess::NotRunning || program.waitForFinished(5000);
    }
    static bool killed(TestProgram &program)
    {
        return ended(program) && program.exitStatus() == QProcess::CrashExit;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // Another user runs the programs copied here.
        QFile::setPermissions(m_programs.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                     | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                                                     | QFile::ExeOther);
        QVERIFY(QFileInfo::exists(QStringLiteral(TINTAREL_PROGRAM_DIR "/Tintarel")));
    }

    void realClockClosesInPassOneAndSavesItsPlace()
    {
        TestHome home;
        home.writeSettings("[Position]\nTop=1500\nLeft=3000\n");
        TestProgram clock;
        clock.setProcessEnvironment(home.environment(m_display));
        clock.start(QStringLiteral(TINTAREL_PROGRAM_DIR "/Tintarel"), {});
        DisplayObserver observer(m_display);
        const auto face = [&]() -> std::optional<SeenWindow> {
            for (const SeenWindow &w : observer.windowsOf(clock.processId()))
                if (w.title.isEmpty() && w.mapped)
                    return w;
            return std::nullopt;
        };
        QTRY_VERIFY_WITH_TIMEOUT(face().has_value(), 15000);
        observer.move(face()->id, QPoint(400, 300));
        QTRY_COMPARE(face()->geometry.topLeft(), QPoint(400, 300));

        QVERIFY(basProcess::FindProcess(basProcess::ClockExecutable));
        closeClocks();
        // Closed by its first request; how soon the process then ends is its own affair.
        QVERIFY(basProcess::ClosePass < 4);
        QVERIFY(ended(clock));
        QCOMPARE(clock.exitStatus(), QProcess::NormalExit);
        QVERIFY(!basProcess::FindProcess(basProcess::ClockExecutable));
        const QSettings stored(home.settingsFile(), QSettings::IniFormat);
        QCOMPARE(stored.value("Position/Top").toString(), QStringLiteral("4500"));
        QCOMPARE(stored.value("Position/Left").toString(), QStringLiteral("6000"));
    }

    void clockIgnoringRequestsIsKilledInPassFour()
    {
        auto clock = start(standIn("Tintarel"), {"--ignore-close", "--hidden", "DDE Server Window", "--hidden",
                                                 "OleMainThreadWndName", "--untitled"});
        QTRY_VERIFY_WITH_TIMEOUT(hasWindow(m_display, clock->processId(), "Tintarel"), 15000);
        closeClocks();
        QCOMPARE(basProcess::ClosePass, std::int16_t(5));
        QVERIFY(killed(*clock));
        QCOMPARE(requestsReceived(*clock), QStringList({"Tintarel", "Tintarel", "Tintarel"}));
    }

    void modalDialogDecidesWhoIsAsked()
    {
        auto clock = start(standIn("Tintarel"), {"--ignore-close", "--title", "Horloge", "--modal", "Réglage"});
        QTRY_VERIFY_WITH_TIMEOUT(hasWindow(m_display, clock->processId(), "Réglage"), 15000);
        closeClocks();
        QVERIFY(killed(*clock));
        QStringList received = requestsReceived(*clock);
        QCOMPARE(received.size(), 4);
        // Passes 1 and 2 ask the dialog only; pass 3 asks both, in either order.
        QCOMPARE(received.mid(0, 2), QStringList({"Réglage", "Réglage"}));
        received = received.mid(2);
        received.sort();
        QCOMPARE(received, QStringList({"Horloge", "Réglage"}));
    }

    void everyClockIsClosedAndOnlyThatName()
    {
        auto first = start(standIn("Tintarel"), {});
        // The same display named with its screen.
        auto second = start(standIn("Tintarel"), {}, m_display + QStringLiteral(".0"));
        auto lowerCase = start(standIn("tintarel"), {});
        // One whose program file was replaced while it runs, as an update does.
        QVERIFY(QDir(m_programs.path()).mkpath("old") && QFile::copy(STAND_IN_PATH, m_programs.path() + "/old/Tintarel"));
        auto updated = start(m_programs.path() + "/old/Tintarel", {});
        for (TestProgram *p : {first.get(), second.get(), lowerCase.get(), updated.get()})
            QTRY_VERIFY_WITH_TIMEOUT(hasWindow(m_display, p->processId(), "Tintarel"), 15000);
        QVERIFY(QFile::remove(m_programs.path() + "/old/Tintarel"));
        closeClocks();
        QVERIFY(basProcess::ClosePass < 4);
        for (TestProgram *p : {first.get(), second.get(), updated.get()}) {
            QVERIFY(ended(*p));
            QCOMPARE(p->exitStatus(), QProcess::NormalExit);
            QCOMPARE(requestsReceived(*p), QStringList {"Tintarel"});
        }
        QCOMPARE(lowerCase->state(), QProcess::Running);
        QVERIFY(requestsReceived(*lowerCase).isEmpty());
    }

    void clocksOfOtherUsersAndDisplaysAreLeftAlone()
    {
        if (::getuid() != 0)
            QSKIP("starting a program as another user needs root");
        TestDisplay otherDisplay;
        QVERIFY(otherDisplay.start(QStringLiteral("640x480x24")));
        auto elsewhere = start(standIn("Tintarel"), {}, otherDisplay.name());

        const passwd *nobody = ::getpwnam("nobody");
        QVERIFY(nobody);
        QTemporaryDir nobodysRuntime;
        QVERIFY(::chown(QFile::encodeName(nobodysRuntime.path()).constData(), nobody->pw_uid, nobody->pw_gid) == 0);
        auto othersClock = std::make_unique<TestProgram>();
        QProcessEnvironment environment = m_home.environment(m_display);
        environment.insert("XDG_RUNTIME_DIR", nobodysRuntime.path());
        environment.insert("HOME", nobodysRuntime.path());
        othersClock->setProcessEnvironment(environment);
        othersClock->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        othersClock->start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups", standIn("Tintarel")});

        auto ours = start(standIn("Tintarel"), {});
        QTRY_VERIFY_WITH_TIMEOUT(hasWindow(otherDisplay.name(), elsewhere->processId(), "Tintarel"), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(hasWindow(m_display, othersClock->processId(), "Tintarel"), 15000);
        QTRY_VERIFY_WITH_TIMEOUT(hasWindow(m_display, ours->processId(), "Tintarel"), 15000);

        closeClocks();
        QVERIFY(basProcess::ClosePass < 4);
        QVERIFY(ended(*ours));
        QCOMPARE(elsewhere->state(), QProcess::Running);
        QCOMPARE(othersClock->state(), QProcess::Running);
        QVERIFY(requestsReceived(*elsewhere).isEmpty());
        QVERIFY(requestsReceived(*othersClock).isEmpty());
    }

    void startFailureSaysWhy_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << m_programs.path() + "/absent" << "/absent est introuvable";
        QTest::newRow("a folder") << m_programs.path() << "n'est pas un programme";
    }
    void startFailureSaysWhy()
    {
        QFETCH(QString, program);
        QFETCH(QString, reason);
        QString error;
        QVERIFY(!basProcess::StartClock(program, &error));
        QVERIFY2(error.contains(reason), qPrintable(error));
    }
};

// The program under test finds its display and processes through $DISPLAY,
// so the display is started before the application connects to it.
int main(int argc, char *argv[])
{
    return runOnOwnDisplay<QApplication, tst_CloseProcessE2E>(argc, argv);
}

#include "tst_closeprocess_e2e.moc"
