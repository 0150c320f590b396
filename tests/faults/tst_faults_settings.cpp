#include "TestDisplay.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSettings>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

namespace {

// Why this process has no mount namespace of its own; empty when it has one.
// TINTAREL_FAULTS_NO_MOUNTS=1 refuses on purpose, to try the other user's way.
QString mountsRefused = QStringLiteral("TINTAREL_FAULTS_NO_MOUNTS=1");

void enterPrivateMounts() // before any thread exists
{
    if (qEnvironmentVariableIntValue("TINTAREL_FAULTS_NO_MOUNTS") == 1)
        return;
    // Mounts made here must not reach the machine's namespace.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        mountsRefused = QStringLiteral("no private mounts: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
    else
        mountsRefused.clear();
}

// A mount over `path`, taken down when the test ends, before its folder is removed.
struct Mount
{
    QByteArray path;
    bool made = false;
    Mount(const QString &where, int tmpfsKilobytes)
        : path(QFile::encodeName(where))
    {
        if (tmpfsKilobytes > 0)
            made = ::mount("tmpfs", path, "tmpfs", 0, "size=" + QByteArray::number(tmpfsKilobytes) + 'k') == 0;
        else // read-only
            made = ::mount(path, path, nullptr, MS_BIND, nullptr) == 0
                && ::mount(nullptr, path, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    }
    ~Mount() { ::umount2(path, MNT_DETACH); }
};

// What a path holds, to compare before and after: a file's bytes, a folder's names, or its kind.
QByteArray snapshot(const QString &path)
{
    const QFileInfo info(path);
    if (info.isDir())
        return "folder of " + QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).join(u' ').toUtf8();
    QFile file(path);
    if (!info.isFile())
        return info.exists() ? "neither file nor folder" : "nothing";
    return file.open(QIODevice::ReadOnly) ? "file of " + file.readAll() : QByteArray("unreadable file");
}

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
    QMap<QString, QVariant> values;
    for (const QString &key : settings.allKeys())
        values.insert(key, settings.value(key));
    return settings.status() == QSettings::NoError ? std::optional(values) : std::nullopt;
}

// The names in the settings folder with their times of change.
QMap<QString, qint64> folderState(const QString &folder)
{
    QMap<QString, qint64> names;
    for (const QFileInfo &file : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden))
        names.insert(file.fileName(), file.lastModified().toMSecsSinceEpoch());
    return names;
}

} // namespace

class tst_FaultsSettings : public QObject
{
    Q_OBJECT

private:
    TestDisplay m_display;

    enum Unwritable { FileReadOnly, FolderReadOnly, DiskFull };
    enum Victim { ClockStarting, ClockClosing, Writer };

    // Closes the boxes titled with the program's name (the store's notice
    // blocks the face while open); true once there are none.
    static bool closeBoxes(DisplayObserver &observer, qint64 pid)
    {
        bool none = true;
        for (const SeenWindow &window : observer.windowsOf(pid)) {
            if (window.mapped && window.title == QLatin1String("Tintarel")) {
                observer.requestClose(window.id);
                none = false;
            }
        }
        return none;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo::exists(QStringLiteral(TINTAREL_PROGRAM_DIR "/Tintarel")), "the clock is not built");
        QVERIFY(m_display.start());
        if (!mountsRefused.isEmpty())
            qInfo().noquote() << "no mounts here (" << mountsRefused << "): read-only files through another user";
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

    // Starts, cannot store its place dragged away and back, tells the user
    // once with the file and why, goes on, and leaves the settings file as
    // it was.
    void unwritable()
    {
        QFETCH(int, fault);
        QFETCH(int, freePages);
        TestHome home;
        const QString folder = home.configHome() + QStringLiteral("/Tintarel");
        QVERIFY(QDir().mkpath(folder));
        const QByteArray stored = "[Position]\nTop=1500\nLeft=3000\nTaille=0\n\n[R%E9glages]\nCarillons=2\n"
                                  "Activer=1\n\n[Plage]\nCheck=0\n";
        const bool mounts = mountsRefused.isEmpty();
        bool otherUser = false;
        std::optional<Mount> mount;
        if (fault == DiskFull && !mounts)
            QSKIP(qPrintable(QStringLiteral("a full disk needs a mount: ") + mountsRefused));
        if (fault == DiskFull)
            QVERIFY(mount.emplace(folder, 64).made);
        home.writeSettings(stored);
        if (fault == DiskFull) {
            QFile filler(folder + QStringLiteral("/filler"));
            QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            while (filler.write(QByteArray(4096, 'x')) == 4096) {
            }
            filler.close();
            QVERIFY(filler.resize(filler.size() - 4096 * freePages));
        } else if (mounts) {
            QVERIFY(mount.emplace(fault == FileReadOnly ? home.settingsFile() : folder, 0).made);
        } else if (!(otherUser = openHomeToOtherUser(home))) { // the folder and file stay root's
            QSKIP(qPrintable(QStringLiteral("neither a mount nor another user: ") + mountsRefused));
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
        // The clock stores its size as it starts, before its first tick: the
        // user may be told then already.
        QByteArray output;
        QVERIFY(waitFor([&] { return (output += clock->readAll()).contains("tintarel.tick"); }, 20000));
        QVERIFY(waitFor([&] { return closeBoxes(observer, clock->processId()); }, 10000));
        // Dragged away and back: a write that cannot be kept is told by the store, once in all.
        const SeenWindow face = *observer.faceOf(clock->processId());
        for (const QPoint &to : {face.geometry.topLeft() + QPoint(40, 30), face.geometry.topLeft()}) {
            QVERIFY(quickDrag(m_display.name(), observer.place(face.id) + QPoint(10, 10), to + QPoint(10, 10)));
            QVERIFY(waitFor([&] { return observer.place(face.id) == to; }, 10000));
            QVERIFY(waitFor([&] { return closeBoxes(observer, clock->processId()); }, 10000));
        }
        QCOMPARE(clock->state(), QProcess::Running);
        clock->terminate();
        QVERIFY(clock->waitForFinished(30000));
        QCOMPARE(clock->exitCode(), 0);
        output += clock->readAll();
        QCOMPARE(snapshot(folder), folderBefore); // nothing left beside the file
        const qsizetype told = output.count(notice.toUtf8());
        static const QRegularExpression place(QStringLiteral("(Top|Left)=\\d+\n"));
        if (fault == DiskFull && freePages > 0) // each write fits or is told; the file is whole either way
            QVERIFY2(told <= 1 && QString(home.readSettings()).remove(place) == QString(stored).remove(place),
                     output.constData());
        else
            QVERIFY2(told == 1 && home.readSettings() == stored, output.constData());
    }

    void unreadable_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("kind"); // S_IFREG, S_IFDIR or S_IFIFO
        QTest::addColumn<bool>("starts");
        QByteArray random(10'000'000, Qt::Uninitialized);
        QRandomGenerator(20261206).fillRange(reinterpret_cast<quint32 *>(random.data()), random.size() / 4);
        const QByteArray known = "[Position]\nTop=1500\nLeft=3000\nTaille=0\n[R%E9glages]\nCarillons=2\n";
        QTest::newRow("ten megabytes of random bytes") << random << S_IFREG << true;
        QTest::newRow("ten megabyte value") << known + "[Autre]\nLong=" + QByteArray(10'000'000, 'a') + '\n' << S_IFREG
                                            << true;
        QTest::newRow("invalid UTF-8 in a value read") << QByteArray("[Position]\nTop=\xff\xfe\x31\n") << S_IFREG << false;
        QTest::newRow("folder") << QByteArray() << S_IFDIR << false;
        QTest::newRow("FIFO") << QByteArray() << S_IFIFO << false;
    }

    // Either starts with what it can read or tells which setting is wrong or
    // that the file is no file and stops, within a bounded time, and leaves
    // the file as it was.
    void unreadable()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, kind);
        QFETCH(bool, starts);
        TestHome home;
        const QString file = home.settingsFile();
        home.writeSettings(content);
        if (kind == S_IFDIR)
            QVERIFY(QFile::remove(file) && QDir().mkpath(file)
                    && QFile(file + QStringLiteral("/kept")).open(QIODevice::WriteOnly));
        else if (kind == S_IFIFO)
            QVERIFY(QFile::remove(file) && ::mkfifo(QFile::encodeName(file).constData(), 0644) == 0);
        const QByteArray before = snapshot(file);

        auto clock = startClock(home, m_display.name());
        DisplayObserver observer(m_display.name());
        // Its boxes closed as they come, it either shows its face or ends.
        QVERIFY2(waitFor([&] {
            return closeBoxes(observer, clock->processId())
                && (observer.faceOf(clock->processId()) || clock->state() == QProcess::NotRunning);
        }, 60000), "neither the face nor the end in a minute");
        QCOMPARE(observer.faceOf(clock->processId()).has_value(), starts);
        clock->terminate();
        QVERIFY(clock->state() == QProcess::NotRunning || clock->waitForFinished(30000));
        QCOMPARE(clock->exitStatus(), QProcess::NormalExit);
        QCOMPARE(clock->exitCode(), starts ? 0 : 1);
        QCOMPARE(snapshot(file), before);
    }

    // Programs that write the settings file killed without warning at random
    // moments, again and again: the file always parses and keeps every key it
    // had, and the clock starts again after each death.
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
        const QString folder = QFileInfo(home.settingsFile()).absolutePath();
        QRandomGenerator random(20261206u + unsigned(victim));
        DisplayObserver observer(m_display.name());
        int writerKeys = 0;

        for (int cycle = 0; cycle < cycles; ++cycle) {
            const QByteArray when = "cycle " + QByteArray::number(cycle);
            const QString prefix = QStringLiteral("Autres/w%1_").arg(cycle);
            auto before = folderState(folder);
            std::unique_ptr<TestProgram> victimProcess = std::make_unique<TestProgram>();
            if (victim == Writer) {
                victimProcess->setProcessChannelMode(QProcess::ForwardedErrorChannel);
                victimProcess->start(QStringLiteral(SETTINGS_WRITER), {home.settingsFile(), QStringLiteral("Autres"),
                                                                       prefix.mid(7), QStringLiteral("100000")});
                QVERIFY2(victimProcess->waitForStarted(10000), when.constData());
                // The moment of death is the fault itself: a random moment of the writer's run.
                QTest::qWait(int(random.bounded(150)));
            } else {
                victimProcess = startClock(home, m_display.name());
                if (victim == ClockClosing) {
                    QTRY_VERIFY2_WITH_TIMEOUT(observer.faceOf(victimProcess->processId()).has_value(),
                                              when.constData(), 20000);
                    before = folderState(folder);
                    victimProcess->terminate();
                }
                // Spins, without sleeping, until a write shows in the folder (a
                // lock or a copy comes, goes or changes), then a random few
                // microseconds more. `before` is taken ahead of what starts the
                // write, or a quick write could finish unseen.
                const QDeadlineTimer deadline(20000);
                while (folderState(folder) == before)
                    QVERIFY2(!deadline.hasExpired(), (when + ": the clock wrote nothing").constData());
                QElapsedTimer spin;
                spin.start();
                for (const qint64 extra = qint64(random.bounded(3000)) * 1000; spin.nsecsElapsed() < extra;) {
                }
            }
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
            while (now->contains(prefix + QString::number(written)))
                ++written;
            writerKeys += written;
            for (const QString &key : now->keys())
                QVERIFY2(!key.startsWith(prefix) || key.mid(prefix.size()).toInt() < written,
                         (when + " has a gap before " + key.toUtf8()).constData());
        }
        QVERIFY2(victim != Writer || writerKeys > 0, "the writer never got a key written");
        // Still starts after all those deaths, even after one before its
        // lock file held anything.
        for (const QFileInfo &lock : QDir(home.path() + QStringLiteral("/runtime")).entryInfoList({"*.lock"}))
            QVERIFY(QFile(lock.filePath()).resize(0));
        auto clock = startClock(home, m_display.name());
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
