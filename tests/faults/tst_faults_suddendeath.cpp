#include "TestDisplay.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSettings>
#include <QtTest>

#include <csignal>

namespace {

// Every key and value of a settings file; nullopt when it does not parse.
std::optional<QMap<QString, QVariant>> settingsOf(const QString &file)
{
    // A path of its own: QSettings would answer from its cache for a file
    // whose size and time have not changed.
    QTemporaryDir copyFolder;
    const QString copy = copyFolder.filePath(QStringLiteral("read.ini"));
    if (!QFileInfo(file).isFile() || !QFile::copy(file, copy))
        return std::nullopt;
    QSettings settings(copy, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return std::nullopt;
    QMap<QString, QVariant> values;
    for (const QString &key : settings.allKeys())
        values.insert(key, settings.value(key));
    return values;
}

} // namespace

// Programs that write the settings file killed without warning at random
// moments, again and again: the file always parses and keeps every key it
// had, and the clock starts again after each death.
class tst_FaultsSuddenDeath : public QObject
{
    Q_OBJECT

private:
    enum Victim { ClockStarting, ClockClosing, Writer };
    TestDisplay m_display;

    using FolderState = QMap<QString, qint64>;

    // The names in the settings folder with their times of change.
    static FolderState folderState(const QString &folder)
    {
        FolderState names;
        for (const QFileInfo &file : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden))
            names.insert(file.fileName(), file.lastModified().toMSecsSinceEpoch());
        return names;
    }

    // Spins, without sleeping, until a write shows in the settings folder
    // (a lock or a copy comes, goes or changes) since `before` was taken,
    // then a random few microseconds more. `before` is taken ahead of what
    // starts the write, or a quick write could finish unseen.
    static bool awaitWrite(const QString &folder, const FolderState &before, QRandomGenerator &random)
    {
        const QDeadlineTimer deadline(20000);
        while (folderState(folder) == before) {
            if (deadline.hasExpired())
                return false;
        }
        QElapsedTimer spin;
        spin.start();
        const qint64 extra = qint64(random.bounded(3000)) * 1000;
        while (spin.nsecsElapsed() < extra) {
        }
        return true;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo::exists(QStringLiteral(TINTAREL_PROGRAM_DIR "/Tintarel")), "the clock is not built");
        QVERIFY(m_display.start());
    }

    void killedWhileWriting_data()
    {
        QTest::addColumn<int>("victim");
        QTest::addColumn<int>("cycles");
        // The clock writes its size as it lays its face out, and its place as it closes.
        QTest::newRow("clock starting") << int(ClockStarting) << 15;
        QTest::newRow("clock closing") << int(ClockClosing) << 15;
        QTest::newRow("settings writer") << int(Writer) << 40;
    }

    void killedWhileWriting()
    {
        QFETCH(int, victim);
        QFETCH(int, cycles);
        TestHome home;
        home.writeSettings("[Position]\nTop=1500\nLeft=3000\nTaille=0\n\n[R%E9glages]\nCarillons=2\nEnumHeures=0\n"
                           "Visibilit%E9=2\nForeColor=255\n\n[Plage]\nCheck=1\nDebut=08:00:00\nFin=22:00:00\n");
        const auto stored = settingsOf(home.settingsFile());
        QVERIFY(stored.has_value());
        QRandomGenerator random(20261206u + unsigned(victim));
        DisplayObserver observer(m_display.name());
        int writerKeys = 0;

        for (int cycle = 0; cycle < cycles; ++cycle) {
            const QByteArray when = "cycle " + QByteArray::number(cycle);
            std::unique_ptr<TestProgram> victimProcess;
            const QString prefix = QStringLiteral("w%1_").arg(cycle);
            const QString folder = QFileInfo(home.settingsFile()).absolutePath();
            FolderState before = folderState(folder);
            if (victim == Writer) {
                victimProcess = std::make_unique<TestProgram>();
                victimProcess->setProcessChannelMode(QProcess::ForwardedErrorChannel);
                victimProcess->start(QStringLiteral(SETTINGS_WRITER), {home.settingsFile(), QStringLiteral("Autres"),
                                                                       prefix, QStringLiteral("100000")});
                QVERIFY2(victimProcess->waitForStarted(10000), when.constData());
            } else {
                victimProcess = startClock(home, m_display.name());
                if (victim == ClockClosing) {
                    QTRY_VERIFY2_WITH_TIMEOUT(observer.faceOf(victimProcess->processId()).has_value(),
                                              when.constData(), 20000);
                    before = folderState(folder);
                    victimProcess->terminate();
                }
            }
            // The moment of death is the fault itself: a random moment of the
            // writer's run, or a random few microseconds into the clock's write.
            if (victim == Writer)
                QTest::qWait(int(random.bounded(150)));
            else
                QVERIFY2(awaitWrite(folder, before, random),
                         (when + ": the clock wrote nothing").constData());
            // No id once it has ended by itself, and kill(0) would hit this test.
            if (const qint64 pid = victimProcess->processId(); pid > 0)
                ::kill(pid_t(pid), SIGKILL);
            QVERIFY2(victimProcess->state() == QProcess::NotRunning || victimProcess->waitForFinished(10000),
                     when.constData());

            const auto now = settingsOf(home.settingsFile());
            QVERIFY2(now.has_value(), (when + " left a file that does not parse").constData());
            for (auto it = stored->cbegin(); it != stored->cend(); ++it) {
                QVERIFY2(now->contains(it.key()), (when + " lost " + it.key().toUtf8()).constData());
                // The clock writes its place as it finds it, which a moved window changes.
                if (!it.key().startsWith(QLatin1String("Position/")))
                    QCOMPARE(now->value(it.key()), it.value());
            }
            // A writer's keys up to its death are all there, one after another.
            int written = 0;
            while (now->contains(QStringLiteral("Autres/") + prefix + QString::number(written)))
                ++written;
            writerKeys += written;
            for (const QString &key : now->keys())
                QVERIFY2(!key.startsWith(QStringLiteral("Autres/") + prefix)
                             || key.mid(7 + prefix.size()).toInt() < written,
                         (when + " has a gap before " + key.toUtf8()).constData());
        }
        if (victim == Writer)
            QVERIFY2(writerKeys > 0, "the writer never got a key written");
        // Still starts after all those deaths, even after one before its
        // lock file held anything.
        for (const QFileInfo &lock : QDir(home.path() + QStringLiteral("/runtime")).entryInfoList({QStringLiteral("*.lock")}))
            QVERIFY(QFile(lock.filePath()).resize(0));
        auto clock = startClock(home, m_display.name());
        QTRY_VERIFY_WITH_TIMEOUT(observer.faceOf(clock->processId()).has_value(), 20000);
        clock->terminate();
        QVERIFY(clock->waitForFinished(30000));
        QCOMPARE(clock->exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_FaultsSuddenDeath)
#include "tst_faults_suddendeath.moc"
