#include "FaultHarness.h"

#include <QDir>
#include <QRandomGenerator>
#include <QtTest>

#include <sys/stat.h>

using namespace faults;

// The real clock facing a settings file it cannot write, cannot read, or
// that is not a file at all, and an autostart folder in a bad state: it
// must neither crash nor hang, must tell the user when the user has to act,
// and must lose nothing already stored.
class tst_FaultsSettings : public QObject
{
    Q_OBJECT

private:
    TestDisplay m_display;

    enum Unwritable { FileReadOnly, FolderReadOnly, DiskFull };
    enum Outcome { Starts, TellsAndStops };
    enum Entry { NoFolder, FolderIsAFile, FolderReadOnlyEntry, RandomEntry, EntryIsAFolder, EntryIsAFifo };

    static QByteArray randomBytes(int size)
    {
        QRandomGenerator generator(20261206);
        QByteArray bytes(size, Qt::Uninitialized);
        generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
        return bytes;
    }

    // Waits for the face or a box titled with the program's name.
    static std::optional<Outcome> outcomeOf(DisplayObserver &observer, TestProgram &clock)
    {
        std::optional<Outcome> seen;
        waitFor(
            [&] {
                if (observer.faceOf(clock.processId()))
                    seen = Starts;
                else if (observer.titledWindowOf(clock.processId(), QStringLiteral("Tintarel"), true))
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
        QTest::newRow("disk full but three pages") << int(DiskFull) << 3;
    }

    // Starts, refuses to turn the chimes off with a message, closes, and
    // leaves the settings file as it was, byte for byte.
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
                // Root's file in a sticky folder cannot be replaced by another user.
                otherUser = true;
                openHomeToOtherUser(home);
                QVERIFY(::chmod(QFile::encodeName(folder).constData(), fault == FileReadOnly ? 01777 : 0755) == 0);
            } else {
                QSKIP(qPrintable(QStringLiteral("neither a mount nor another user: ") + privateMountsRefused()));
            }
        }
        QCOMPARE(home.readSettings(), stored);
        const QByteArray folderBefore = snapshot(folder);

        ClockOptions options;
        options.asOtherUser = otherUser;
        auto clock = startClock(home, m_display.name(), options);
        DisplayObserver observer(m_display.name());
        QTRY_VERIFY_WITH_TIMEOUT(observer.faceOf(clock->processId()).has_value(), 20000);
        const auto box = toggleActivationAndFindBox(observer, m_display.name(), clock->processId());
        // Where a page or more is left, a write may fit; if it does not, the user is told.
        if (fault != DiskFull || freePages == 0)
            QVERIFY2(box.has_value(), "no message that the chimes setting could not be saved");
        if (box) {
            observer.requestClose(box->id);
            QTRY_VERIFY_WITH_TIMEOUT(!observer.titledWindowOf(clock->processId(), QStringLiteral("Tintarel"), true),
                                     10000);
        }
        QCOMPARE(clock->state(), QProcess::Running);

        clock->terminate();
        QVERIFY(clock->waitForFinished(30000));
        QCOMPARE(clock->exitStatus(), QProcess::NormalExit);
        QCOMPARE(clock->exitCode(), 0);
        if (box) {
            QCOMPARE(home.readSettings(), stored);
            QCOMPARE(snapshot(folder), folderBefore);
        } else {
            // Written, then: whole, with the chimes off.
            const auto now = settingsOf(home.settingsFile());
            QVERIFY(now.has_value());
            for (const char *key : {"Position/Top", "Position/Left", "Position/Taille", "Réglages/Carillons", "Plage/Check"})
                QVERIFY2(now->contains(QString::fromUtf8(key)), key);
            QCOMPARE(now->value(QStringLiteral("Réglages/Activer")).toString(), QStringLiteral("0"));
        }
    }

    void unreadable_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("kind"); // S_IFREG, S_IFDIR or S_IFIFO
        QTest::addColumn<int>("outcome");
        QTest::addColumn<bool>("rewritable");
        const QByteArray known = "[Position]\nTop=1500\nLeft=3000\nTaille=0\n[R%E9glages]\nCarillons=2\n";
        QTest::newRow("random bytes") << randomBytes(4096) << S_IFREG << int(Starts) << false;
        QTest::newRow("ten megabytes of random bytes") << randomBytes(10'000'000) << S_IFREG << int(Starts) << false;
        QTest::newRow("NUL bytes") << QByteArray(4096, '\0') << S_IFREG << int(Starts) << false;
        QTest::newRow("ten megabyte value")
            << known + "[Autre]\nLong=" + QByteArray(10'000'000, 'a') + '\n' << S_IFREG << int(Starts) << true;
        QTest::newRow("invalid UTF-8 in a value read")
            << QByteArray("[Position]\nTop=\xff\xfe\x31\n") << S_IFREG << int(TellsAndStops) << false;
        QTest::newRow("invalid UTF-8 in a key") << known + "\xff\xfe" "Carillons=3\n" << S_IFREG << int(Starts) << true;
        QTest::newRow("invalid UTF-8 in a section") << "[\xc3\x28]\nx=1\n" + known << S_IFREG << int(Starts) << true;
        QTest::newRow("folder") << QByteArray() << S_IFDIR << int(TellsAndStops) << false;
        QTest::newRow("FIFO") << QByteArray() << S_IFIFO << int(TellsAndStops) << false;
    }

    // Either starts with what it can read or tells which setting is wrong or
    // that the file is no file, within a bounded time; a file it cannot
    // parse or a box it showed leaves the file untouched.
    void unreadable()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, kind);
        QFETCH(int, outcome);
        QFETCH(bool, rewritable);
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
        const auto settingsBefore = settingsOf(file);

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
        if (rewritable) {
            QVERIFY(settingsBefore.has_value());
            QCOMPARE(settingsOf(file), settingsBefore);
        } else {
            QCOMPARE(snapshot(file), before);
        }
    }

    void autostart_data()
    {
        QTest::addColumn<int>("entry");
        QTest::newRow("no autostart folder") << int(NoFolder);
        QTest::newRow("autostart is a file") << int(FolderIsAFile);
        QTest::newRow("autostart read-only") << int(FolderReadOnlyEntry);
        QTest::newRow("entry of random bytes") << int(RandomEntry);
        QTest::newRow("entry is a folder") << int(EntryIsAFolder);
        QTest::newRow("entry is a FIFO") << int(EntryIsAFifo);
    }

    // The settings object is created, Démarrage reads 0, and the clock starts.
    void autostart()
    {
        QFETCH(int, entry);
        TestHome home;
        const QString xdg = home.path() + QStringLiteral("/xdg");
        const QString autostart = xdg + QStringLiteral("/autostart");
        const QString entryFile = autostart + QStringLiteral("/Tintarel.desktop");
        QVERIFY(QDir().mkpath(entry == NoFolder ? xdg : autostart));
        bool otherUser = false;
        std::unique_ptr<Mount> mount;
        switch (entry) {
        case FolderIsAFile:
            QVERIFY(QDir().rmdir(autostart) && QFile(autostart).open(QIODevice::WriteOnly));
            break;
        case FolderReadOnlyEntry:
            if (privateMountsRefused().isEmpty()) {
                QVERIFY(bindReadOnly(autostart));
                mount = std::make_unique<Mount>(autostart);
            } else {
                otherUser = otherUserAvailable();
                if (!otherUser)
                    QSKIP("neither a mount nor another user");
                openHomeToOtherUser(home);
                QFile::setPermissions(xdg, QFile::permissions(xdg) | QFile::ReadOther | QFile::ExeOther);
            }
            break;
        case RandomEntry: {
            QFile file(entryFile);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(randomBytes(8192));
            break;
        }
        case EntryIsAFolder:
            QVERIFY(QDir().mkpath(entryFile));
            break;
        case EntryIsAFifo:
            QVERIFY(::mkfifo(QFile::encodeName(entryFile).constData(), 0644) == 0);
            break;
        }
        QProcessEnvironment env = home.environment(m_display.name());
        env.insert(QStringLiteral("XDG_CONFIG_DIRS"), xdg);

        TestProgram probe;
        probe.setProcessEnvironment(env);
        probe.start(otherUser ? asOtherUser().first() : QStringLiteral(SETTINGS_PROBE),
                    otherUser ? asOtherUser().mid(1) << QStringLiteral(SETTINGS_PROBE) : QStringList());
        QVERIFY2(probe.waitForFinished(15000), "creating the settings object did not end");
        if (probe.state() == QProcess::NotRunning)
            QCOMPARE(probe.readAllStandardOutput().trimmed(), QByteArray("Démarrage=0"));

        ClockOptions options;
        options.asOtherUser = otherUser;
        options.environment.insert(QStringLiteral("XDG_CONFIG_DIRS"), xdg);
        auto clock = startClock(home, m_display.name(), options);
        DisplayObserver observer(m_display.name());
        QTRY_VERIFY_WITH_TIMEOUT(observer.faceOf(clock->processId()).has_value(), 20000);
        clock->terminate();
        QVERIFY(clock->waitForFinished(30000));
        QCOMPARE(clock->exitCode(), 0);
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
