#include "FaultHarness.h"

#include <QDir>
#include <QRandomGenerator>
#include <QtTest>

#include <sys/stat.h>

using namespace faults;

// The real clock facing a settings file it cannot write, cannot read, or
// that is not a file at all: it must neither crash nor hang, must tell the
// user when a setting cannot be kept or the user has to act, and must lose
// nothing already stored.
class tst_FaultsSettings : public QObject
{
    Q_OBJECT

private:
    TestDisplay m_display;

    enum Unwritable { FileReadOnly, FolderReadOnly, DiskFull };
    enum Outcome { Starts, TellsAndStops };

    static QByteArray randomBytes(int size)
    {
        QRandomGenerator generator(20261206);
        QByteArray bytes(size, Qt::Uninitialized);
        generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
        return bytes;
    }

    // Waits for the face, or for a box titled with the program's name and no
    // face after it: a notice may come beside the face.
    static std::optional<Outcome> outcomeOf(DisplayObserver &observer, TestProgram &clock)
    {
        std::optional<Outcome> seen;
        QElapsedTimer boxSeen;
        waitFor(
            [&] {
                if (observer.faceOf(clock.processId()))
                    seen = Starts;
                else if (!observer.titledWindowOf(clock.processId(), QStringLiteral("Tintarel"), true))
                    boxSeen.invalidate();
                else if (!boxSeen.isValid())
                    boxSeen.start();
                else if (boxSeen.hasExpired(3000))
                    seen = TellsAndStops;
                return seen.has_value() || clock.state() == QProcess::NotRunning;
            },
            60000);
        return seen;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo::exists(QStringLiteral(TINTAREL_PROGRAM_DIR "/Tintarel")), "the clock is not built");
        QVERIFY(m_display.start());
        if (!privateMountsRefused().isEmpty())
            qInfo().noquote() << QStringLiteral("no mounts here (%1): read-only files through another user")
                                     .arg(privateMountsRefused());
    }

    void unwritable_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("freePages");
        QTest::newRow("file read-only") << int(FileReadOnly) << 0;
        QTest::newRow("folder read-only") << int(FolderReadOnly) << 0;
        // Each lock file and each copy of the settings file takes a page.
        QTest::newRow("disk full") << int(DiskFull) << 0;
        QTest::newRow("disk full but a page") << int(DiskFull) << 1;
        QTest::newRow("disk full but two pages") << int(DiskFull) << 2;
    }

    // Starts, cannot store the chimes switched off, tells the user once with
    // the file and why, goes on, and leaves the settings file as it was.
    void unwritable()
    {
        QFETCH(int, fault);
        QFETCH(int, freePages);
        TestHome home;
        const QString folder = home.configHome() + QStringLiteral("/Tintarel");
        QVERIFY(QDir().mkpath(folder));
        const QByteArray stored = "[Position]\nTop=1500\nLeft=3000\nTaille=0\n\n[R%E9glages]\nCarillons=2\n"
                                  "Activer=1\n\n[Plage]\nCheck=0\n";
        const bool mounts = privateMountsRefused().isEmpty();
        bool otherUser = false;
        std::unique_ptr<Mount> mount;
        if (fault == DiskFull) {
            if (!mounts)
                QSKIP(qPrintable(QStringLiteral("a full disk needs a mount: ") + privateMountsRefused()));
            QVERIFY(mountTmpfs(folder, 64));
            mount = std::make_unique<Mount>(folder);
            home.writeSettings(stored);
            QFile filler(folder + QStringLiteral("/filler"));
            QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            while (filler.write(QByteArray(4096, 'x')) == 4096) {
            }
            filler.close();
            QVERIFY(filler.resize(filler.size() - 4096 * freePages));
        } else {
            home.writeSettings(stored);
            const QString path = fault == FileReadOnly ? home.settingsFile() : folder;
            if (mounts) {
                QVERIFY(bindReadOnly(path));
                mount = std::make_unique<Mount>(path);
            } else if (otherUserAvailable()) {
                otherUser = true;
                openHomeToOtherUser(home);
                QVERIFY(::chmod(QFile::encodeName(fault == FileReadOnly ? home.settingsFile() : folder).constData(),
                                fault == FileReadOnly ? 0644 : 0755) == 0);
            } else {
                QSKIP(qPrintable(QStringLiteral("neither a mount nor another user: ") + privateMountsRefused()));
            }
        }
        const QByteArray folderBefore = snapshot(folder);

        ClockOptions options;
        options.asOtherUser = otherUser;
        auto clock = startClock(home, m_display.name(), options);
        DisplayObserver observer(m_display.name());
        QTRY_VERIFY_WITH_TIMEOUT(observer.faceOf(clock->processId()).has_value(), 20000);
        const QString reason = fault == DiskFull ? QStringLiteral("le disque est plein")
            : otherUser                          ? QStringLiteral("accès refusé")
                                                 : QStringLiteral("le disque n'accepte que la lecture");
        const QString notice =
            QStringLiteral("ne peuvent pas être enregistrés dans le fichier %1 : %2.").arg(home.settingsFile(), reason);
        const auto closeBoxes = [&] { // the store's notice, and the clock's own box, which blocks it while open
            return waitFor([&] {
                for (const SeenWindow &window : observer.windowsOf(clock->processId()))
                    if (window.mapped && window.title == QLatin1String("Tintarel"))
                        observer.requestClose(window.id);
                return !observer.titledWindowOf(clock->processId(), QStringLiteral("Tintarel"), true);
            }, 10000);
        };
        // The clock stores its size as it starts, before its first tick: the
        // user may be told then already.
        QByteArray output;
        QVERIFY(waitFor([&] { return (output += clock->readAll()).contains("tintarel.tick"); }, 20000));
        QVERIFY(closeBoxes());
        // Off, then on again: the store tells once in all, the clock each time
        // a change cannot be stored.
        for (int turn = 0; turn < 2; ++turn) {
            const auto box = toggleActivationAndFindBox(observer, m_display.name(), clock->processId());
            if (fault == DiskFull && freePages > 0 && !box && turn == 0)
                break; // the write fitted
            QVERIFY2(box.has_value() || turn == 1, "no message that the chimes setting could not be saved");
            QVERIFY(closeBoxes());
        }
        QCOMPARE(clock->state(), QProcess::Running);
        clock->terminate();
        QVERIFY(clock->waitForFinished(30000));
        QCOMPARE(clock->exitCode(), 0);
        output += clock->readAll();
        QCOMPARE(snapshot(folder), folderBefore); // nothing left beside the file
        if (home.readSettings() == stored) {
            QVERIFY2(output.count(notice.toUtf8()) == 1, output.constData());
        } else { // written, then: whole, with the chimes off
            QVERIFY(fault == DiskFull && freePages > 0);
            QCOMPARE(home.readSettings(), QByteArray(stored).replace("Activer=1", "Activer=0"));
        }
    }

    void unreadable_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("kind"); // S_IFREG, S_IFDIR or S_IFIFO
        QTest::addColumn<int>("outcome");
        const QByteArray known = "[Position]\nTop=1500\nLeft=3000\nTaille=0\n[R%E9glages]\nCarillons=2\n";
        QTest::newRow("ten megabytes of random bytes") << randomBytes(10'000'000) << S_IFREG << int(Starts);
        QTest::newRow("ten megabyte value") << known + "[Autre]\nLong=" + QByteArray(10'000'000, 'a') + '\n' << S_IFREG
                                            << int(Starts);
        QTest::newRow("invalid UTF-8 in a value read") << QByteArray("[Position]\nTop=\xff\xfe\x31\n") << S_IFREG
                                                       << int(TellsAndStops);
        QTest::newRow("folder") << QByteArray() << S_IFDIR << int(TellsAndStops);
        QTest::newRow("FIFO") << QByteArray() << S_IFIFO << int(TellsAndStops);
    }

    // Either starts with what it can read or tells which setting is wrong or
    // that the file is no file, within a bounded time, and leaves the file
    // as it was.
    void unreadable()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, kind);
        QFETCH(int, outcome);
        TestHome home;
        const QString file = home.settingsFile();
        if (kind == S_IFREG) {
            home.writeSettings(content);
        } else {
            QVERIFY(QDir().mkpath(file));
            if (kind == S_IFDIR)
                QVERIFY(QFile(file + QStringLiteral("/kept")).open(QIODevice::WriteOnly));
            else
                QVERIFY(QDir().rmdir(file) && ::mkfifo(QFile::encodeName(file).constData(), 0644) == 0);
        }
        const QByteArray before = snapshot(file);

        auto clock = startClock(home, m_display.name());
        DisplayObserver observer(m_display.name());
        const auto seen = outcomeOf(observer, *clock);
        QVERIFY2(seen.has_value(), "neither the face nor a box in a minute");
        QCOMPARE(int(*seen), outcome);
        if (*seen == TellsAndStops)
            observer.requestClose(observer.titledWindowOf(clock->processId(), QStringLiteral("Tintarel"), true)->id);
        else
            clock->terminate();
        QVERIFY(clock->waitForFinished(30000));
        QCOMPARE(clock->exitStatus(), QProcess::NormalExit);
        QCOMPARE(clock->exitCode(), outcome == Starts ? 0 : 1);
        QCOMPARE(snapshot(file), before);
    }
};

int main(int argc, char *argv[])
{
    enterPrivateMounts(); // before any thread exists
    QCoreApplication app(argc, argv);
    tst_FaultsSettings test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_faults_settings.moc"
