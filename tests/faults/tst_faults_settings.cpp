#include "TestDisplay.h"

#include <QDir>
#include <QRandomGenerator>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

namespace {

// Why this process has no mount namespace of its own; empty when it has one.
// TINTAREL_FAULTS_NO_MOUNTS=1 refuses on purpose, to try the other user's way.
QString mountsRefused = QStringLiteral("not tried");

void enterPrivateMounts() // before any thread exists
{
    if (qEnvironmentVariableIntValue("TINTAREL_FAULTS_NO_MOUNTS") == 1)
        mountsRefused = QStringLiteral("TINTAREL_FAULTS_NO_MOUNTS=1");
    // Mounts made here must not reach the machine's namespace.
    else if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
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
    if (!info.isFile())
        return info.exists() ? "neither file nor folder" : "nothing";
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? "file of " + file.readAll() : QByteArray("unreadable file");
}

// Right-clicks the face and picks the menu's last item, which turns the
// chimes on or off; true once the menu has gone.
bool toggleChimes(DisplayObserver &observer, const QString &display, qint64 pid)
{
    const auto click = [&](QPoint at, const char *button) {
        bool ok = false;
        xTool(display, QStringLiteral("xdotool"),
              {QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()), QStringLiteral("click"),
               QLatin1String(button)},
              &ok);
        return ok;
    };
    // The menu is a new mapped window with the program's name, like a notice.
    const auto programWindows = [&] {
        std::vector<SeenWindow> found;
        for (const SeenWindow &w : observer.windowsOf(pid))
            if (w.mapped && w.title == QLatin1String("Tintarel"))
                found.push_back(w);
        return found;
    };
    const auto before = programWindows();
    const auto face = observer.faceOf(pid);
    std::optional<SeenWindow> menu;
    const auto menuShown = [&] {
        for (const SeenWindow &w : programWindows())
            if (std::none_of(before.begin(), before.end(), [&](const SeenWindow &b) { return b.id == w.id; }))
                menu = w;
        return menu.has_value();
    };
    const auto menuGone = [&] {
        const auto now = programWindows();
        return std::none_of(now.begin(), now.end(), [&](const SeenWindow &w) { return w.id == menu->id; });
    };
    return face && click(face->geometry.center(), "3") && waitFor(menuShown, 10000)
        && click(QPoint(menu->geometry.center().x(), menu->geometry.bottom() - 10), "1") && waitFor(menuGone, 10000);
}

} // namespace

class tst_FaultsSettings : public QObject
{
    Q_OBJECT

private:
    TestDisplay m_display;

    enum Unwritable { FileReadOnly, FolderReadOnly, DiskFull };
    enum Outcome { Starts, TellsAndStops };

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
        } else if (otherUserAvailable()) {
            otherUser = true; // the folder and file stay root's, and so read-only for it
            openHomeToOtherUser(home);
        } else {
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
        // Off, then on again: a write that cannot be kept is told by the store, once in all.
        for (int turn = 0; turn < 2; ++turn) {
            QVERIFY(toggleChimes(observer, m_display.name(), clock->processId()));
            QVERIFY(closeBoxes());
        }
        QCOMPARE(clock->state(), QProcess::Running);
        clock->terminate();
        QVERIFY(clock->waitForFinished(30000));
        QCOMPARE(clock->exitCode(), 0);
        output += clock->readAll();
        QCOMPARE(snapshot(folder), folderBefore); // nothing left beside the file
        const QByteArray off = QByteArray(stored).replace("Activer=1", "Activer=0");
        const qsizetype told = output.count(notice.toUtf8());
        if (fault == DiskFull && freePages > 0) // each write fits or is told; the file is whole either way
            QVERIFY2(told <= 1 && (home.readSettings() == stored || home.readSettings() == off), output.constData());
        else
            QVERIFY2(told == 1 && home.readSettings() == stored, output.constData());
    }

    void unreadable_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("kind"); // S_IFREG, S_IFDIR or S_IFIFO
        QTest::addColumn<int>("outcome");
        QByteArray random(10'000'000, Qt::Uninitialized);
        QRandomGenerator(20261206).fillRange(reinterpret_cast<quint32 *>(random.data()), random.size() / 4);
        const QByteArray known = "[Position]\nTop=1500\nLeft=3000\nTaille=0\n[R%E9glages]\nCarillons=2\n";
        QTest::newRow("ten megabytes of random bytes") << random << S_IFREG << int(Starts);
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
