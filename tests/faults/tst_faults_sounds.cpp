#include "TestDisplay.h"

#include <QDir>
#include <QRandomGenerator>
#include <QtTest>

#include <functional>

// The real clock at the half hour with its half-hour chime spoiled in a
// copy of the program folder: it must tell the failure, keep ticking, come
// back to idle and close normally. A failed chime is idle again only after
// seventy seconds, so every clock starts at once and each row checks its own.
class tst_FaultsSounds : public QObject
{
    Q_OBJECT

private:
    struct Fault
    {
        const char *name;
        std::function<bool(const QString &file)> spoil;
    };
    static std::vector<Fault> faultsToTry()
    {
        return {
            {"missing", [](const QString &file) { return QFile::remove(file); }},
            {"empty", [](const QString &file) { return QFile(file).resize(0); }},
            {"truncated",
             [](const QString &file) {
                 QFile sound(file);
                 return sound.resize(1000);
             }},
            {"random bytes",
             [](const QString &file) {
                 QByteArray bytes(60000, Qt::Uninitialized);
                 QRandomGenerator(20261206).fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
                 QFile sound(file);
                 return sound.open(QIODevice::WriteOnly | QIODevice::Truncate) && sound.write(bytes) == bytes.size();
             }},
            {"folder", [](const QString &file) { return QFile::remove(file) && QDir().mkdir(file); }},
        };
    }

    struct Running
    {
        std::unique_ptr<TestHome> home = std::make_unique<TestHome>();
        std::unique_ptr<QTemporaryDir> folder = std::make_unique<QTemporaryDir>();
        std::unique_ptr<TestProgram> clock;
        QByteArray log;
        bool logged(const QByteArray &line, const QByteArray &after = {})
        {
            log += clock->readAll();
            const qsizetype start = after.isEmpty() ? 0 : log.indexOf(after);
            return start >= 0 && log.indexOf(line, start) >= 0;
        }
    };

    TestDisplay m_display;
    std::map<QByteArray, Running> m_clocks;
    const QString m_faketime = QStringLiteral("/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1");

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo::exists(QStringLiteral(TINTAREL_PROGRAM_DIR "/Carill3.mp3")), "the sounds are not built");
        if (!QFileInfo::exists(m_faketime))
            QSKIP("libfaketime is not installed");
        QVERIFY(m_display.start());
        for (const Fault &fault : faultsToTry()) {
            Running &running = m_clocks[fault.name];
            QVERIFY(copyProgramFolder(running.folder->path()));
            QVERIFY2(fault.spoil(running.folder->filePath(QStringLiteral("Carill3.mp3"))), fault.name);
            ClockOptions options;
            options.folder = running.folder->path();
            options.fakeStart = QStringLiteral("2026-12-06 10:29:58");
            running.clock = startClock(*running.home, m_display.name(), options);
            QCOMPARE(running.clock->state(), QProcess::Running);
        }
    }

    void cleanup()
    {
        if (QTest::currentTestFailed())
            for (auto &[name, running] : m_clocks)
                if (QTest::currentDataTag() == name)
                    qWarning().noquote() << "clock's output:\n" << running.log;
    }

    void spoiledHalfHourChime_data()
    {
        QTest::addColumn<QByteArray>("fault");
        for (const Fault &fault : faultsToTry())
            QTest::newRow(fault.name) << QByteArray(fault.name);
    }

    void spoiledHalfHourChime()
    {
        QFETCH(QByteArray, fault);
        Running &running = m_clocks.at(fault);
        QTRY_VERIFY_WITH_TIMEOUT(running.logged("hint Echec du carillon"), 30000);
        QVERIFY(running.logged("state -1"));
        // Still ticking after the failure, and idle again once its time is over.
        QTRY_VERIFY_WITH_TIMEOUT(running.logged("show 10:30:15", "state -1"), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(running.logged("state 0", "state -1"), 120000);
        QVERIFY(running.logged("hint Double click pour configurer, click droit pour quitter", "state 0"));
        // Any later tick will do: under load one second may be skipped.
        QTRY_VERIFY_WITH_TIMEOUT(running.logged("show 10:3", "state 0"), 30000);
        QCOMPARE(running.clock->state(), QProcess::Running);
        running.clock->terminate();
        QVERIFY(running.clock->waitForFinished(30000));
        QCOMPARE(running.clock->exitStatus(), QProcess::NormalExit);
        QCOMPARE(running.clock->exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_FaultsSounds)
#include "tst_faults_sounds.moc"
