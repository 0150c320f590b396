#include "ChimePlayer.h"
#include "TestSoundServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>
#include <cmath>

using R = ChimePlayer::Result;

// The real player on MP3 files made here with lame, playing to a sound
// server of the test's own, or with none (a silent sink that keeps time).
class TestChimePlayer : public QObject
{
    Q_OBJECT

private:
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
        R send(const QString &command, bool notify = false)
        {
            player->setNotify(notify);
            inside = true;
            const R result = player->command(command);
            inside = false;
            return result;
        }
        R start(const QString &path)
        {
            player->setFileName(path);
            send(QStringLiteral("Close"));
            const R opened = send(QStringLiteral("Open"));
            return opened == R::Ok ? send(QStringLiteral("Play"), true) : opened;
        }
    };

    QTemporaryDir m_files;
    TestSoundServer m_server;
    QString m_short; // 0.3 s
    QString m_long;  // 1.5 s

    QString makeMp3(const QString &name, double seconds)
    {
        QByteArray pcm;
        for (int i = 0; i < int(22050 * seconds); ++i) {
            const auto value = qint16(8000 * std::sin(2 * M_PI * 660 * i / 22050));
            pcm.append(reinterpret_cast<const char *>(&value), 2);
        }
        const QString path = m_files.filePath(name + QStringLiteral(".mp3"));
        QProcess lame;
        lame.start(QStringLiteral("lame"), {"--quiet", "-r", "-s", "22.05", "-m", "m", "-", path});
        lame.write(pcm);
        lame.closeWriteChannel();
        return lame.waitForFinished(30000) && lame.exitCode() == 0 ? path : QString();
    }

private slots:
    void initTestCase()
    {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_files.path()));
        m_short = makeMp3(QStringLiteral("short"), 0.3);
        m_long = makeMp3(QStringLiteral("long"), 1.5);
        QVERIFY2(!m_short.isEmpty() && !m_long.isEmpty(), "lame could not make the test sounds");
        QVERIFY(m_server.start());
    }

    void init() { qputenv("PULSE_SERVER", m_server.address().toUtf8()); }

    void playsToTheEnd_data()
    {
        QTest::addColumn<QByteArray>("server");
        QTest::newRow("sound server") << QByteArray();
        QTest::newRow("no sound server") << QByteArray("unix:/nonexistent");
    }

    void playsToTheEnd()
    {
        QFETCH(QByteArray, server);
        if (!server.isEmpty())
            qputenv("PULSE_SERVER", server);
        Recorded r;
        QCOMPARE(r.player->mode(), ChimePlayer::ModeNotOpen);
        QCOMPARE(r.start(m_short), R::Ok);
        QCOMPARE(r.player->mode(), ChimePlayer::ModePlaying);
        QTRY_COMPARE_WITH_TIMEOUT(r.notices, QList<int>{ChimePlayer::NotifySuccessful}, 20000);
        QCOMPARE(r.player->mode(), ChimePlayer::ModeStopped);
        // A sound that ended stays open until "Close", and plays again from its start.
        QCOMPARE(r.send(QStringLiteral("Play"), true), R::Ok);
        QCOMPARE(r.player->mode(), ChimePlayer::ModePlaying);
        QTRY_COMPARE_WITH_TIMEOUT(r.notices.size(), 2, 20000);
        QCOMPARE(r.notices.last(), ChimePlayer::NotifySuccessful);
        QCOMPARE(r.send(QStringLiteral("close")), R::Ok);
        QCOMPARE(r.player->mode(), ChimePlayer::ModeNotOpen);
        QVERIFY(!r.noticeInside);
    }

    void badFileFails_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char *kind : {"missing", "random bytes", "text"})
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }

    void badFileFails()
    {
        QFETCH(QString, kind);
        const QString path = m_files.filePath(kind + QStringLiteral(".mp3"));
        QByteArray bytes = QByteArray("not a sound at all\n").repeated(200);
        if (kind == QLatin1String("random bytes")) {
            bytes.resize(64 * 1024);
            QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
        }
        QFile file(path);
        if (kind != QLatin1String("missing"))
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();

        Recorded r;
        const R result = r.start(path);
        if (result == R::Ok) {
            QTRY_COMPARE_WITH_TIMEOUT(r.notices, QList<int>{ChimePlayer::NotifyFailure}, 20000);
            QCOMPARE(r.send(QStringLiteral("Play")), R::CannotPlay);
        } else {
            QCOMPARE(result, kind == QLatin1String("missing") ? R::CannotOpenFile : R::CannotPlay);
        }
        QVERIFY(r.player->mode() != ChimePlayer::ModePlaying);
        // Opened again and at once replaced by a good file: its failure, still on
        // its way, never reaches the good one.
        r.notices.clear();
        r.start(path);
        QCOMPARE(r.start(m_short), R::Ok);
        QTRY_COMPARE_WITH_TIMEOUT(r.notices, QList<int>{ChimePlayer::NotifySuccessful}, 20000);
        QVERIFY(!r.noticeInside);
    }

    void stopAndOpenDropTheEarlierSound()
    {
        // A third player on the same file tells when the others would have ended.
        Recorded reference, stopped, reopened;
        QCOMPARE(reference.start(m_long), R::Ok);
        QCOMPARE(stopped.start(m_long), R::Ok);
        QCOMPARE(reopened.start(m_long), R::Ok);
        QCOMPARE(stopped.send(QStringLiteral("Stop")), R::Ok);
        QCOMPARE(stopped.player->mode(), ChimePlayer::ModeStopped);
        reopened.player->setFileName(m_short);
        QCOMPARE(reopened.send(QStringLiteral("Open")), R::Ok);
        QCOMPARE(reopened.send(QStringLiteral("Play"), true), R::Ok);
        QTRY_COMPARE_WITH_TIMEOUT(reference.notices, QList<int>{ChimePlayer::NotifySuccessful}, 20000);
        QVERIFY(stopped.notices.isEmpty() || stopped.notices == QList<int>{ChimePlayer::NotifyAborted});
        QCOMPARE(reopened.notices, QList<int>{ChimePlayer::NotifySuccessful});
    }

    void stalledServerNeverBlocks()
    {
        // However long the server sleeps, every command answers at once (a
        // blocked call would wait for the server to wake), and a sound that
        // cannot start fails within a few seconds.
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
        QCOMPARE(timed([&] { return r.send(QStringLiteral("Stop")); }), R::Ok);
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
        QCOMPARE(r.send(QStringLiteral("Close")), R::Ok);
        QCOMPARE(r.notices.size(), 1);
        // GStreamer's threads wind down a little after their pipeline goes.
        QTRY_VERIFY_WITH_TIMEOUT(count("/proc/self/task") <= threads + 4 && count("/proc/self/fd") <= fds + 4, 20000);
    }
};

QTEST_GUILESS_MAIN(TestChimePlayer)
#include "tst_chimeplayer.moc"
