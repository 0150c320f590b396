#include "ProcessTable.h"
#include "TestDisplay.h"

#include <QCoreApplication>
#include <QSysInfo>
#include <QtTest>

#include <unistd.h>

using namespace proc;

namespace {

struct Listed
{
    bool found = false;
    QString name;
    bool mainThreadListed = false;
};

Listed lookUp(ProcessTable &table, qint64 pid)
{
    Listed result;
    const HANDLE snapshot = table.createSnapshot(TH32CS_SNAPPROCESS | TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return result;
    PROCESSENTRY32 process;
    process.dwSize = sizeof process;
    for (bool more = table.processFirst(snapshot, &process); more; more = table.processNext(snapshot, &process))
        if (process.th32ProcessID == DWORD(pid)) {
            result.found = true;
            result.name = QString::fromUtf8(process.szExeFile);
        }
    THREADENTRY32 thread;
    thread.dwSize = sizeof thread;
    for (bool more = table.threadFirst(snapshot, &thread); more; more = table.threadNext(snapshot, &thread))
        if (thread.th32ThreadID == DWORD(pid) && thread.th32OwnerProcessID == DWORD(pid))
            result.mainThreadListed = true;
    table.closeHandle(snapshot);
    return result;
}

} // namespace

// The snapshot read from /proc, in the scope of this user and one display,
// and the ends by signal, on real child processes.
class tst_ProcessTable : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_folder;

    // A long-running program under a name of our choice, with the given
    // DISPLAY (none when empty).
    std::unique_ptr<TestProgram> start(const QString &name, const QString &display, QStringList prefix = {})
    {
        const QString path = m_folder.path() + QLatin1Char('/') + name;
        if (!QFileInfo::exists(path))
            QFile::copy(QStringLiteral("/bin/sleep"), path);
        auto process = std::make_unique<TestProgram>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        if (!display.isEmpty())
            environment.insert(QStringLiteral("DISPLAY"), display);
        process->setProcessEnvironment(environment);
        if (prefix.isEmpty())
            process->start(path, {"60"});
        else
            process->start(prefix.takeFirst(), prefix << path << "60");
        process->waitForStarted(5000);
        return process;
    }

private Q_SLOTS:
    void initTestCase()
    {
        // Another user runs the programs copied here.
        QFile::setPermissions(m_folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                   | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                                                   | QFile::ExeOther);
    }

    void listsThisDisplaysProgramsByFileName_data()
    {
        QTest::addColumn<QString>("display");
        QTest::addColumn<bool>("listed");
        // Whether the program file is removed while it runs, as an update does.
        QTest::addColumn<bool>("removed");
        QTest::newRow("same") << ":57" << true << false;
        QTest::newRow("same, program file replaced") << ":57" << true << true;
        QTest::newRow("same, screen 0") << ":57.0" << true << false;
        QTest::newRow("same, unix socket") << "unix:57" << true << false;
        QTest::newRow("other display") << ":58" << false << false;
        QTest::newRow("other host") << "elsewhere:57" << false << false;
        QTest::newRow("no display") << "" << false << false;
    }
    void listsThisDisplaysProgramsByFileName()
    {
        QFETCH(QString, display);
        QFETCH(bool, listed);
        QFETCH(bool, removed);
        // Longer than the 15 characters of the kernel's command name.
        auto child = start(QStringLiteral("Tintarel-with-a-long-name"), display);
        if (removed)
            QVERIFY(QFile::remove(m_folder.path() + QStringLiteral("/Tintarel-with-a-long-name")));
        const auto table = makeSystemProcessTable(QStringLiteral(":57.0"));
        const Listed seen = lookUp(*table, child->processId());
        QCOMPARE(seen.found, listed);
        QCOMPARE(seen.mainThreadListed, listed);
        if (listed)
            QCOMPARE(seen.name, QStringLiteral("Tintarel-with-a-long-name"));
    }

    void processWeMayNotSignalCannotBeOpened()
    {
        if (::getuid() != 0)
            QSKIP("running the probe as another user needs root");
        auto child = start(QStringLiteral("Tintarel"), QStringLiteral(":57"));
        QProcess probe;
        probe.start("setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                QCoreApplication::applicationFilePath(), "--open",
                                QString::number(child->processId())});
        QVERIFY(probe.waitForFinished(10000));
        QCOMPARE(probe.readAllStandardOutput(), QByteArray("0\n"));
        QCOMPARE(child->state(), QProcess::Running);
    }

    void terminalServerIsThisMachine()
    {
        auto child = start(QStringLiteral("Tintarel"), QStringLiteral(":57"));
        const auto table = makeSystemProcessTable(QStringLiteral(":57"));
        QCOMPARE(table->wtsOpenServer(QStringLiteral("elsewhere")), HANDLE(0));
        QCOMPARE(table->wtsOpenServer(QString()), HANDLE(0));
        const HANDLE server = table->wtsOpenServer(QSysInfo::machineHostName());
        QVERIFY(server != 0);
        QVERIFY(!table->wtsTerminateProcess(server + 1000, DWORD(child->processId()), 0));
        QVERIFY(table->wtsTerminateProcess(server, DWORD(child->processId()), 0));
        QVERIFY(child->waitForFinished(5000));
        QCOMPARE(child->exitStatus(), QProcess::CrashExit);
        table->wtsCloseServer(server);
        QVERIFY(!table->wtsTerminateProcess(server, DWORD(::getpid()), 0));
    }
};

// Run as another user by the test itself: prints the handle that opening the
// given process for termination gives.
int main(int argc, char *argv[])
{
    if (argc == 3 && qstrcmp(argv[1], "--open") == 0) {
        const auto table = makeSystemProcessTable();
        std::printf("%d\n", table->openProcess(PROCESS_TERMINATE, true, DWORD(std::atol(argv[2]))));
        return 0;
    }
    QCoreApplication app(argc, argv);
    tst_ProcessTable test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_processtable.moc"
