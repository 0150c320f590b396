#include "ChimePlayer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>
#include <QtTest>
#include <cmath>

Q_DECLARE_METATYPE(ChimePlayer::Result)

char *toString(const ChimePlayer::Result &result)
{
    return qstrdup(qPrintable(describe(result)));
}

// The real player on real MP3 files, made here with lame. With no audio
// server, GStreamer plays to a silent sink in real time.
class TestChimePlayer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void playsToTheEnd();
    void badFileFailsWithoutStallingTheLoop_data();
    void badFileFailsWithoutStallingTheLoop();
    void stopNeverReportsSuccess();
    void openWhilePlayingDropsTheEarlierFile();
    void lateFailureNeverReachesTheNextFile_data();
    void lateFailureNeverReachesTheNextFile();
    void commandErrors_data();
    void commandErrors();
    void closedFilesLeaveNothingBehind();
    void installedBellsPlay();

private:
    // A player with the notices it delivered, and a check that none arrives
    // inside a command.
    struct Recorded
    {
        std::unique_ptr<ChimePlayer> player = makeChimePlayer();
        QList<int> notices;
        bool insideCommand = false;
        bool noticeInsideCommand = false;

        Recorded()
        {
            player->setCompletionHandler([this](int code) {
                notices.append(code);
                noticeInsideCommand = noticeInsideCommand || insideCommand;
            });
        }
        ChimePlayer::Result send(const QString &command)
        {
            insideCommand = true;
            const ChimePlayer::Result result = player->command(command);
            insideCommand = false;
            return result;
        }
        ChimePlayer::Result start(const QString &path)
        {
            player->setDeviceType(QStringLiteral("MPEGVideo"));
            player->setFileName(path);
            send(QStringLiteral("Close"));
            const ChimePlayer::Result opened = send(QStringLiteral("Open"));
            if (opened != ChimePlayer::Result::Ok)
                return opened;
            player->setNotify(true);
            return send(QStringLiteral("Play"));
        }
    };

    QString makeMp3(const QString &name, double seconds);
    static int countEntries(const QString &folder);

    QTemporaryDir m_runtime;
    QTemporaryDir m_files;
    QString m_short;  // 0.3 s
    QString m_long;   // 1.5 s
};

QString TestChimePlayer::makeMp3(const QString &name, double seconds)
{
    const int rate = 22050;
    const int samples = int(rate * seconds);
    QByteArray pcm(samples * 2, Qt::Uninitialized);
    for (int i = 0; i < samples; ++i) {
        const auto value = qint16(8000 * std::sin(2 * M_PI * 660 * i / rate));
        qToLittleEndian(value, pcm.data() + 2 * i);
    }
    QByteArray wav;
    auto put32 = [&wav](quint32 v) { char b[4]; qToLittleEndian(v, b); wav.append(b, 4); };
    auto put16 = [&wav](quint16 v) { char b[2]; qToLittleEndian(v, b); wav.append(b, 2); };
    wav.append("RIFF");
    put32(36 + pcm.size());
    wav.append("WAVEfmt ");
    put32(16);
    put16(1);
    put16(1);
    put32(rate);
    put32(rate * 2);
    put16(2);
    put16(16);
    wav.append("data");
    put32(pcm.size());
    wav.append(pcm);

    const QString wavPath = m_files.filePath(name + QStringLiteral(".wav"));
    const QString mp3Path = m_files.filePath(name + QStringLiteral(".mp3"));
    QFile file(wavPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(wav) != wav.size())
        return {};
    file.close();
    QProcess lame;
    lame.start(QStringLiteral("lame"), {QStringLiteral("--quiet"), wavPath, mp3Path});
    if (!lame.waitForFinished(30000) || lame.exitCode() != 0)
        return {};
    return mp3Path;
}

int TestChimePlayer::countEntries(const QString &folder)
{
    return int(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size());
}

void TestChimePlayer::initTestCase()
{
    QVERIFY(m_runtime.isValid());
    QFile::setPermissions(m_runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    QVERIFY(m_files.isValid());
    m_short = makeMp3(QStringLiteral("short"), 0.3);
    m_long = makeMp3(QStringLiteral("long"), 1.5);
    QVERIFY2(!m_short.isEmpty() && !m_long.isEmpty(), "lame could not make the test sounds");
}

void TestChimePlayer::playsToTheEnd()
{
    Recorded r;
    QCOMPARE(r.player->mode(), ChimePlayer::ModeNotOpen);
    QCOMPARE(r.start(m_short), ChimePlayer::Result::Ok);
    QCOMPARE(r.player->mode(), ChimePlayer::ModePlaying);
    QTRY_COMPARE_WITH_TIMEOUT(r.notices, QList<int>{ChimePlayer::NotifySuccessful}, 20000);
    QCOMPARE(r.player->mode(), ChimePlayer::ModeStopped);
    QVERIFY(!r.noticeInsideCommand);

    // A sound that ended stays open until "Close", and plays again from its start.
    r.player->setNotify(true);
    QCOMPARE(r.send(QStringLiteral("Play")), ChimePlayer::Result::Ok);
    QCOMPARE(r.player->mode(), ChimePlayer::ModePlaying);
    QTRY_COMPARE_WITH_TIMEOUT(r.notices, (QList<int>{ChimePlayer::NotifySuccessful, ChimePlayer::NotifySuccessful}),
                              20000);
    QCOMPARE(r.player->mode(), ChimePlayer::ModeStopped);
    QCOMPARE(r.send(QStringLiteral("close")), ChimePlayer::Result::Ok);
    QCOMPARE(r.player->mode(), ChimePlayer::ModeNotOpen);
}

void TestChimePlayer::badFileFailsWithoutStallingTheLoop_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("openFails");
    QTest::newRow("missing") << "missing" << true;
    QTest::newRow("directory") << "directory" << true;
    QTest::newRow("empty") << "empty" << false;
    QTest::newRow("random bytes") << "random" << false;
}

void TestChimePlayer::badFileFailsWithoutStallingTheLoop()
{
    QFETCH(QString, kind);
    QFETCH(bool, openFails);

    QString path = m_files.filePath(kind + QStringLiteral(".mp3"));
    if (kind == QLatin1String("directory")) {
        QVERIFY(QDir(m_files.path()).mkpath(kind + QStringLiteral(".mp3")));
    } else if (kind != QLatin1String("missing")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (kind == QLatin1String("random")) {
            QByteArray bytes(64 * 1024, Qt::Uninitialized);
            QRandomGenerator generator(7);
            for (char &c : bytes)
                c = char(generator.bounded(256));
            file.write(bytes);
        }
    }

    // The longest pause of the event loop: a player that blocks on a failed
    // file stalls it for about a second.
    QElapsedTimer sinceLastTick;
    qint64 longestGap = 0;
    QTimer heartbeat;
    heartbeat.setInterval(10);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        longestGap = std::max(longestGap, sinceLastTick.restart());
    });
    sinceLastTick.start();
    heartbeat.start();

    Recorded r;
    const ChimePlayer::Result result = r.start(path);
    QList<int> expectedNotices;
    if (openFails) {
        QCOMPARE(result, ChimePlayer::Result::CannotOpenFile);
        QCOMPARE(r.player->mode(), ChimePlayer::ModeNotOpen);
    } else if (result == ChimePlayer::Result::Ok) {
        QTRY_COMPARE_WITH_TIMEOUT(r.notices, QList<int>{ChimePlayer::NotifyFailure}, 20000);
        QCOMPARE(r.player->mode(), ChimePlayer::ModeStopped);
        // Stopping and playing a failed file again answers at once.
        QCOMPARE(r.send(QStringLiteral("Stop")), ChimePlayer::Result::Ok);
        QCOMPARE(r.send(QStringLiteral("Play")), ChimePlayer::Result::CannotPlay);
        expectedNotices.append(ChimePlayer::NotifyFailure);
    } else {
        QCOMPARE(result, ChimePlayer::Result::CannotPlay);
    }
    QVERIFY(r.player->mode() != ChimePlayer::ModePlaying);

    // The same player goes on to play a good file.
    QCOMPARE(r.start(m_short), ChimePlayer::Result::Ok);
    expectedNotices.append(ChimePlayer::NotifySuccessful);
    QTRY_COMPARE_WITH_TIMEOUT(r.notices, expectedNotices, 20000);
    heartbeat.stop();
    QVERIFY2(longestGap < 750, qPrintable(QStringLiteral("event loop stalled %1 ms").arg(longestGap)));
    QVERIFY(!r.noticeInsideCommand);
}

void TestChimePlayer::stopNeverReportsSuccess()
{
    // A second player on the same file tells when the stopped one would
    // have reached its end.
    Recorded reference;
    Recorded r;
    QCOMPARE(reference.start(m_long), ChimePlayer::Result::Ok);
    QCOMPARE(r.start(m_long), ChimePlayer::Result::Ok);
    QCOMPARE(r.send(QStringLiteral("Stop")), ChimePlayer::Result::Ok);
    QCOMPARE(r.player->mode(), ChimePlayer::ModeStopped);
    QVERIFY(r.notices.isEmpty());

    QTRY_COMPARE_WITH_TIMEOUT(reference.notices, QList<int>{ChimePlayer::NotifySuccessful}, 20000);
    QStringList seen;
    for (int code : r.notices)
        seen << QString::number(code);
    QVERIFY2(r.notices.isEmpty() || r.notices == QList<int>{ChimePlayer::NotifyAborted},
             qPrintable(QStringLiteral("notices after Stop: %1").arg(seen.join(QLatin1Char(' ')))));
    QCOMPARE(r.player->mode(), ChimePlayer::ModeStopped);
    QVERIFY(!r.noticeInsideCommand);
}

void TestChimePlayer::openWhilePlayingDropsTheEarlierFile()
{
    Recorded reference;
    Recorded r;
    QCOMPARE(reference.start(m_long), ChimePlayer::Result::Ok);
    QCOMPARE(r.start(m_long), ChimePlayer::Result::Ok);
    r.player->setFileName(m_short);
    QCOMPARE(r.send(QStringLiteral("Open")), ChimePlayer::Result::Ok);
    QCOMPARE(r.player->mode(), ChimePlayer::ModeStopped);
    r.player->setNotify(true);
    QCOMPARE(r.send(QStringLiteral("Play")), ChimePlayer::Result::Ok);

    QTRY_COMPARE_WITH_TIMEOUT(reference.notices, QList<int>{ChimePlayer::NotifySuccessful}, 20000);
    QCOMPARE(r.notices, QList<int>{ChimePlayer::NotifySuccessful});
}

void TestChimePlayer::lateFailureNeverReachesTheNextFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("text") << QByteArray("not a sound at all\n").repeated(200);
}

void TestChimePlayer::lateFailureNeverReachesTheNextFile()
{
    QFETCH(QByteArray, content);
    const QString bad = m_files.filePath(QStringLiteral("late-%1.mp3").arg(QTest::currentDataTag()));
    QFile file(bad);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();

    // The failure of the first file is still on its way when the second opens.
    Recorded r;
    const ChimePlayer::Result first = r.start(bad);
    QVERIFY(first == ChimePlayer::Result::Ok || first == ChimePlayer::Result::CannotPlay);
    QCOMPARE(r.start(m_short), ChimePlayer::Result::Ok);
    QCOMPARE(r.player->mode(), ChimePlayer::ModePlaying);
    QTRY_COMPARE_WITH_TIMEOUT(r.notices, QList<int>{ChimePlayer::NotifySuccessful}, 20000);
}

void TestChimePlayer::commandErrors_data()
{
    QTest::addColumn<QString>("deviceType");
    QTest::addColumn<bool>("openFirst");
    QTest::addColumn<QString>("command");
    QTest::addColumn<ChimePlayer::Result>("expected");
    QTest::addColumn<int>("mode");

    using R = ChimePlayer::Result;
    QTest::newRow("close with nothing open") << "MPEGVideo" << false << "Close" << R::Ok << ChimePlayer::ModeNotOpen;
    QTest::newRow("play with nothing open") << "MPEGVideo" << false << "Play" << R::NotOpen << ChimePlayer::ModeNotOpen;
    QTest::newRow("stop with nothing open") << "MPEGVideo" << false << "Stop" << R::NotOpen << ChimePlayer::ModeNotOpen;
    QTest::newRow("unknown command") << "MPEGVideo" << true << "Rewind" << R::UnknownCommand << ChimePlayer::ModeStopped;
    QTest::newRow("other device type") << "WaveAudio" << false << "Open" << R::UnsupportedDeviceType
                                       << ChimePlayer::ModeNotOpen;
    QTest::newRow("open in lower case") << "mpegvideo" << false << "open" << R::Ok << ChimePlayer::ModeStopped;
}

void TestChimePlayer::commandErrors()
{
    QFETCH(QString, deviceType);
    QFETCH(bool, openFirst);
    QFETCH(QString, command);
    QFETCH(ChimePlayer::Result, expected);
    QFETCH(int, mode);

    Recorded r;
    r.player->setDeviceType(deviceType);
    r.player->setFileName(m_short);
    if (openFirst)
        QCOMPARE(r.send(QStringLiteral("Open")), ChimePlayer::Result::Ok);
    QCOMPARE(r.send(command), expected);
    QCOMPARE(r.player->mode(), mode);
}

void TestChimePlayer::closedFilesLeaveNothingBehind()
{
    // Warm up once: the first player loads the back end for good.
    {
        Recorded r;
        QCOMPARE(r.start(m_short), ChimePlayer::Result::Ok);
        QTRY_VERIFY_WITH_TIMEOUT(!r.notices.isEmpty(), 20000);
    }
    QCoreApplication::processEvents();
    const int fdsBefore = countEntries(QStringLiteral("/proc/self/fd"));
    const int threadsBefore = countEntries(QStringLiteral("/proc/self/task"));

    Recorded r;
    for (int i = 0; i < 300; ++i) {
        QCOMPARE(r.start(i % 2 ? m_short : m_long), ChimePlayer::Result::Ok);
        QCoreApplication::processEvents();
        QCOMPARE(r.send(QStringLiteral("Close")), ChimePlayer::Result::Ok);
    }
    QCoreApplication::processEvents();
    QVERIFY(r.notices.isEmpty());

    // GStreamer's worker threads wind down a little after their pipeline goes.
    QTRY_VERIFY_WITH_TIMEOUT(countEntries(QStringLiteral("/proc/self/task")) <= threadsBefore + 4, 20000);
    const int fdsAfter = countEntries(QStringLiteral("/proc/self/fd"));
    QVERIFY2(fdsAfter <= fdsBefore + 4, qPrintable(QStringLiteral("%1 -> %2 files open").arg(fdsBefore).arg(fdsAfter)));
}

void TestChimePlayer::installedBellsPlay()
{
    // The bells are built beside the program by another target; use them when they are there.
    const QString bell = QStringLiteral(TINTAREL_PROGRAM_DIR "/CarillH1.mp3");
    if (!QFile::exists(bell))
        QSKIP("the bell sounds are not built");
    Recorded r;
    QCOMPARE(r.start(bell), ChimePlayer::Result::Ok);
    QTRY_COMPARE_WITH_TIMEOUT(r.notices, QList<int>{ChimePlayer::NotifySuccessful}, 60000);
}

QTEST_GUILESS_MAIN(TestChimePlayer)
#include "tst_chimeplayer.moc"
