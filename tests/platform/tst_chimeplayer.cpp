#include "ChimePlayer.h"
#include "TestSoundServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>
#include <cmath>

using R = ChimePlayer::Result;

// The real player on MP3 files made here with lame, playing to a sound
// server of the test's own. Spoiled sounds and a dying server, as the clock
// meets them, are the fault tests' part.
class TestChimePlayer : public QObject
{
    Q_OBJECT

    // A player with the notices it delivered; none may come inside a command.
    struct Recorded
    {
        std::unique_ptr<ChimePlayer> player = makeChimePlayer();
        QList<int> notices;
        bool inside = false, noticeInside = false;
        Recorded()
        {
            player->setCompletionHandler([this](int code) { notices.append(code), noticeInside |= inside; });
            player->setDeviceType(QStringLiteral("MPEGVideo"));
        }
        R send(const char *command, bool notify = false)
        {
            player->setNotify(notify);
            inside = true;
            const R result = player->command(QLatin1String(command));
            inside = false;
            return result;
        }
        R start(const QString &path)
        {
            player->setFileName(path);
            send("Close");
            const R opened = send("Open");
            return opened == R::Ok ? send("Play", true) : opened;
        }
    };

    QTemporaryDir m_files;
    TestSoundServer m_server;
    const QString m_short = m_files.filePath(QStringLiteral("short.mp3")); // 0.3 s
    const QString m_long = m_files.filePath(QStringLiteral("long.mp3"));   // 1.5 s

    static bool makeMp3(const QString &path, double seconds)
    {
        QByteArray pcm;
        for (int i = 0; i < int(22050 * seconds); ++i) {
            const auto value = qint16(8000 * std::sin(2 * M_PI * 660 * i / 22050));
            pcm.append(reinterpret_cast<const char *>(&value), 2);
        }
        QProcess lame;
        lame.start(QStringLiteral("lame"), {"--quiet", "-r", "-s", "22.05", "-m", "m", "-", path});
        lame.write(pcm);
        lame.closeWriteChannel();
        return lame.waitForFinished(30000) && lame.exitCode() == 0;
    }

private slots:
    void initTestCase()
    {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_files.path()));
        QVERIFY2(makeMp3(m_short, 0.3) && makeMp3(m_long, 1.5), "lame could not make the test sounds");
        QVERIFY(m_server.start());
    }

    void init() { qputenv("PULSE_SERVER", m_server.address().toUtf8()); }

    // A sound that ended stays open until "Close", and plays again from its
    // start. (With no sound server, the end-to-end tests' case, a silent sink
    // keeps time.)
    void playsToTheEnd()
    {
        Recorded r;
        QCOMPARE(r.player->mode(), ChimePlayer::ModeNotOpen);
        for (int played = 1; played <= 2; ++played) {
            QCOMPARE(played == 1 ? r.start(m_short) : r.send("Play", true), R::Ok);
            QCOMPARE(r.player->mode(), ChimePlayer::ModePlaying);
            QTRY_COMPARE_WITH_TIMEOUT(r.notices, QList<int>(played, ChimePlayer::NotifySuccessful), 20000);
            QCOMPARE(r.player->mode(), ChimePlayer::ModeStopped);
        }
        QCOMPARE(r.send("close"), R::Ok);
        QCOMPARE(r.player->mode(), ChimePlayer::ModeNotOpen);
        QVERIFY(!r.noticeInside);
    }

    // A third player on the same file tells when the others would have ended.
    void stopAndOpenDropTheEarlierSound()
    {
        Recorded reference, stopped, reopened;
        for (Recorded *r : {&reference, &stopped, &reopened})
            QCOMPARE(r->start(m_long), R::Ok);
        QCOMPARE(stopped.send("Stop"), R::Ok);
        QCOMPARE(stopped.player->mode(), ChimePlayer::ModeStopped);
        reopened.player->setFileName(m_short);
        QCOMPARE(reopened.send("Open"), R::Ok);
        QCOMPARE(reopened.send("Play", true), R::Ok);
        QTRY_COMPARE_WITH_TIMEOUT(reference.notices, QList<int>{ChimePlayer::NotifySuccessful}, 20000);
        QVERIFY(stopped.notices.isEmpty() || stopped.notices == QList<int>{ChimePlayer::NotifyAborted});
        QCOMPARE(reopened.notices, QList<int>{ChimePlayer::NotifySuccessful});
    }

    // However long the server sleeps, every command answers at once (a
    // blocked call would wait for the server to wake), and a sound that
    // cannot start fails within a few seconds.
    void stalledServerNeverBlocks()
    {
        Recorded r;
        qint64 longest = 0;
        const auto timed = [&](const std::function<R()> &call) {
            QElapsedTimer took;
            took.start();
            const R result = call();
            longest = std::max(longest, took.elapsed());
            return result;
        };
        QCOMPARE(r.start(m_long), R::Ok);
        QTRY_VERIFY_WITH_TIMEOUT(!m_server.streams().isEmpty(), 20000);
        m_server.stall();
        QCOMPARE(timed([&] { return r.send("Stop"); }), R::Ok);
        QCOMPARE(timed([&] { return r.start(m_long); }), R::Ok);
        QTRY_COMPARE_WITH_TIMEOUT(r.notices, QList<int>{ChimePlayer::NotifyFailure}, 20000);
        QCOMPARE(r.player->mode(), ChimePlayer::ModeStopped);
        // No other pipeline is made while the last one is held up.
        QTRY_COMPARE_WITH_TIMEOUT(timed([&] { return r.start(m_long); }), R::NotAnswering, 10000);
        QVERIFY2(longest < 500, qPrintable(QStringLiteral("a command took %1 ms").arg(longest)));
        m_server.resume();
        r.notices.clear();
        QTRY_COMPARE_WITH_TIMEOUT(r.start(m_short), R::Ok, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(r.notices, QList<int>{ChimePlayer::NotifySuccessful}, 20000);
    }

    void closedFilesLeaveNothingBehind()
    {
        const auto count = [](const char *folder) {
            return QDir(QLatin1String(folder)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size();
        };
        Recorded r;
        QCOMPARE(r.start(m_short), R::Ok); // the back end loads for good
        QTRY_VERIFY_WITH_TIMEOUT(!r.notices.isEmpty(), 20000);
        const auto fds = count("/proc/self/fd"), threads = count("/proc/self/task");
        for (int i = 0; i < 200; ++i) {
            QCOMPARE(r.start(i % 2 ? m_short : m_long), R::Ok);
            QCoreApplication::processEvents();
        }
        QCOMPARE(r.send("Close"), R::Ok);
        QCOMPARE(r.notices.size(), 1);
        // GStreamer's threads wind down a little after their pipeline goes.
        QTRY_VERIFY_WITH_TIMEOUT(count("/proc/self/task") <= threads + 4 && count("/proc/self/fd") <= fds + 4, 20000);
    }
};

QTEST_GUILESS_MAIN(TestChimePlayer)
#include "tst_chimeplayer.moc"
