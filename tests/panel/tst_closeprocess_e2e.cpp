#include "OwnDisplayMain.h"
#include "basProcess.h"

#include <QApplication>
#include <QSettings>
#include <QtTest>

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

    // The stand-in under a file name of our choice, in a folder anyone may
    // read, started with its window shown.
    std::unique_ptr<TestProgram> start(const QString &name, const QStringList &arguments = {},
                                       const QString &display = {}, const QStringList &asUser = {})
    {
        const QString path = m_programs.path() + QLatin1Char('/') + name;
        QFile::copy(QStringLiteral(STAND_IN_PATH), path);
        const QString on = display.isEmpty() ? m_display : display;
        auto process = std::make_unique<TestProgram>();
        process->setProcessEnvironment(m_home.environment(on));
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const QStringList command = asUser + QStringList{path} + arguments;
        process->start(command.first(), command.mid(1));
        // Up once the window asked first shows: the modal dialog, if any.
        const qsizetype modal = arguments.indexOf("--modal");
        const QString title = modal >= 0 ? arguments[modal + 1] : QStringLiteral("Tintarel");
        DisplayObserver observer(on);
        [&] { QTRY_VERIFY_WITH_TIMEOUT(observer.titledWindowOf(process->processId(), title, true), 15000); }();
        return process;
    }
    static QStringList requestsReceived(TestProgram &program)
    {
        QStringList titles;
        for (const QByteArray &line : program.readAllStandardOutput().split('\n'))
            if (line.startsWith("close ["))
                titles << QString::fromUtf8(line.mid(7, line.size() - 8));
        return titles;
    }
    // The waits of CloseProcess run the event loop, where QProcess may already
    // have seen its program end.
    static bool ended(TestProgram &program, QProcess::ExitStatus how)
    {
        return (program.state() == QProcess::NotRunning || program.waitForFinished(5000)) && program.exitStatus() == how;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // Another user runs the programs copied here.
        QFile::setPermissions(m_programs.path(), QFile::permissions(m_programs.path()) | QFile::ReadOther
                                                     | QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
        QVERIFY(QDir(m_programs.path()).mkpath("old"));
        QVERIFY(QFileInfo::exists(QStringLiteral(TINTAREL_PROGRAM_DIR "/Tintarel")));
    }

    void realClockClosesInPassOneAndSavesItsPlace()
    {
        TestHome home;
        home.writeSettings("[Position]\nTop=1500\nLeft=3000\n");
        const auto clock = startClock(home, m_display);
        DisplayObserver observer(m_display);
        QTRY_VERIFY_WITH_TIMEOUT(observer.faceOf(clock->processId()), 15000);
        observer.move(observer.faceOf(clock->processId())->id, QPoint(400, 300));
        QTRY_COMPARE(observer.faceOf(clock->processId())->geometry.topLeft(), QPoint(400, 300));
        QVERIFY(basProcess::FindProcess(basProcess::ClockExecutable));
        basProcess::CloseProcess(basProcess::ClockExecutable);
        // Closed by its first request; how soon the process then ends is its own affair.
        QVERIFY(basProcess::ClosePass < 4);
        QVERIFY(ended(*clock, QProcess::NormalExit));
        QVERIFY(!basProcess::FindProcess(basProcess::ClockExecutable));
        const QSettings stored(home.settingsFile(), QSettings::IniFormat);
        QCOMPARE(stored.value("Position/Top").toString(), QStringLiteral("4500"));
        QCOMPARE(stored.value("Position/Left").toString(), QStringLiteral("6000"));
    }

    // Passes 1 and 2 ask the modal dialog only, pass 3 every titled window
    // but the system's own, pass 4 kills.
    void clockIgnoringRequestsIsKilledInPassFour()
    {
        const auto clock = start("Tintarel", {"--ignore-close", "--title", "Horloge", "--modal", "Réglage", "--hidden",
                                              "DDE Server Window", "--hidden", "OleMainThreadWndName", "--untitled"});
        basProcess::CloseProcess(basProcess::ClockExecutable);
        QCOMPARE(basProcess::ClosePass, std::int16_t(5));
        QVERIFY(ended(*clock, QProcess::CrashExit));
        QStringList received = requestsReceived(*clock);
        QCOMPARE(received.mid(0, 2), QStringList({"Réglage", "Réglage"}));
        received = received.mid(2);
        received.sort();
        QCOMPARE(received, QStringList({"Horloge", "Réglage"}));
    }

    // Clocks on this display, named with its screen too, and one whose
    // program file was replaced while it runs, as an update does; not a
    // program named otherwise, nor one on another display or of another user.
    void everyClockOfTheSessionIsClosedAndOnlyThose()
    {
        TestDisplay otherDisplay;
        QVERIFY(otherDisplay.start(QStringLiteral("640x480x24")));
        const std::unique_ptr<TestProgram> closed[] = {start("Tintarel"), start("Tintarel", {}, m_display + ".0"),
                                                       start("old/Tintarel")};
        QVERIFY(QFile::remove(m_programs.path() + "/old/Tintarel"));
        std::vector<std::unique_ptr<TestProgram>> left;
        left.push_back(start("tintarel"));
        left.push_back(start("Tintarel", {}, otherDisplay.name()));
        if (otherUserAvailable())
            left.push_back(start("Tintarel", {}, {}, asOtherUser()));
        else
            qWarning("no other user: the clock of another user is not tried");
        basProcess::CloseProcess(basProcess::ClockExecutable);
        QVERIFY(basProcess::ClosePass < 4);
        for (const auto &p : closed) {
            QVERIFY(ended(*p, QProcess::NormalExit));
            QCOMPARE(requestsReceived(*p), QStringList{"Tintarel"});
        }
        for (const auto &p : left) {
            QCOMPARE(p->state(), QProcess::Running);
            QVERIFY(requestsReceived(*p).isEmpty());
        }
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
