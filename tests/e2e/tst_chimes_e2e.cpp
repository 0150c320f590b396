#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// The built clock on its own X server, started by libfaketime a few seconds
// before a quarter, telling its chime events on stderr.
class TestChimesEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void quarterPastChimesAndWindsDown();
    void missingHalfHourFileFails();

private:
    bool startClock(const QString &programFolder, const QString &fakeStart);
    void stopClock();
    bool logged(const QString &line) const { return m_log.contains(line); }

    const QString m_program = QStringLiteral(TINTAREL_PROGRAM_DIR "/Tintarel");
    // Preloaded directly: the faketime wrapper runs the program as its child
    // and does not pass termination on to it.
    const QString m_faketime = QStringLiteral("/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1");
    QTemporaryDir m_home;
    QProcess m_xvfb;
    QByteArray m_display;
    QProcess m_clock;
    QString m_log;
};

void TestChimesEndToEnd::initTestCase()
{
    if (!QFile::exists(m_program))
        QSKIP("the clock program is not built");
    if (!QFile::exists(QStringLiteral(TINTAREL_PROGRAM_DIR "/Carill2.mp3")))
        QSKIP("the bell sounds are not built");
    if (!QFile::exists(m_faketime))
        QSKIP("libfaketime is not installed");

    QVERIFY(m_home.isValid());
    QVERIFY(QDir(m_home.path()).mkpath(QStringLiteral("config/Tintarel")));
    QVERIFY(QDir(m_home.path()).mkpath(QStringLiteral("runtime")));
    QFile::setPermissions(m_home.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_home.filePath(QStringLiteral("runtime"))));
    // Every setting at its default: all quarters chime, hours are struck, no quiet rule.
    QFile ini(m_home.filePath(QStringLiteral("config/Tintarel/Tintarel.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.close();

    // -noreset keeps the server as it is between clients.
    m_xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"),
                                          QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-screen"),
                                          QStringLiteral("0"), QStringLiteral("1280x1024x24")});
    QVERIFY2(m_xvfb.waitForReadyRead(20000), "Xvfb did not start");
    m_display = ':' + m_xvfb.readAllStandardOutput().trimmed();
}

void TestChimesEndToEnd::cleanupTestCase()
{
    m_xvfb.terminate();
    m_xvfb.waitForFinished(5000);
}

void TestChimesEndToEnd::stopClock()
{
    if (m_clock.state() == QProcess::NotRunning)
        return;
    m_clock.terminate();
    if (!m_clock.waitForFinished(10000)) {
        m_clock.kill();
        m_clock.waitForFinished(5000);
    }
}

void TestChimesEndToEnd::cleanup()
{
    stopClock();
    if (QTest::currentTestFailed())
        qWarning().noquote() << "clock's stderr:\n" << m_log;
    m_log.clear();
}

bool TestChimesEndToEnd::startClock(const QString &programFolder, const QString &fakeStart)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_display));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.filePath(QStringLiteral("runtime")));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("tintarel.chimes=true"));
    env.insert(QStringLiteral("LD_PRELOAD"), m_faketime);
    env.insert(QStringLiteral("FAKETIME"), QLatin1Char('@') + fakeStart);
    // Sound needs the real monotonic clock, or GStreamer never ends a file.
    env.insert(QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    m_clock.setProcessEnvironment(env);
    m_clock.setProcessChannelMode(QProcess::SeparateChannels);
    QObject::disconnect(&m_clock, nullptr, this, nullptr);
    connect(&m_clock, &QProcess::readyReadStandardError, this,
            [this] { m_log += QString::fromUtf8(m_clock.readAllStandardError()); });
    m_clock.start(programFolder + QStringLiteral("/Tintarel"), QStringList());
    return m_clock.waitForStarted(10000);
}

void TestChimesEndToEnd::quarterPastChimesAndWindsDown()
{
    QVERIFY(startClock(QStringLiteral(TINTAREL_PROGRAM_DIR), QStringLiteral("2026-12-06 10:14:57")));
    QTRY_VERIFY_WITH_TIMEOUT(logged(QStringLiteral("play Carill2.mp3 ok")), 30000);
    QVERIFY(logged(QStringLiteral("hint Double-cliquez pour interrompre le carillon")));
    QVERIFY(!logged(QStringLiteral("hint Echec du carillon")));

    // The quarter chime ends within its ten seconds and the clock is idle again.
    QTRY_VERIFY_WITH_TIMEOUT(logged(QStringLiteral("hint Double click pour configurer, click droit pour quitter"))
                                 && logged(QStringLiteral("state 0")),
                             30000);
    QVERIFY(!logged(QStringLiteral("notice 8")));
    QCOMPARE(m_clock.state(), QProcess::Running);
}

void TestChimesEndToEnd::missingHalfHourFileFails()
{
    // A copy of the program folder without the half-hour chime.
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QDir source(QStringLiteral(TINTAREL_PROGRAM_DIR));
    for (const QString &name : source.entryList(QDir::Files)) {
        if (name != QLatin1String("Carill3.mp3"))
            QVERIFY(QFile::copy(source.filePath(name), folder.filePath(name)));
    }
    QFile::setPermissions(folder.filePath(QStringLiteral("Tintarel")),
                          QFile::permissions(source.filePath(QStringLiteral("Tintarel"))));

    QVERIFY(startClock(folder.path(), QStringLiteral("2026-12-06 10:29:57")));
    QTRY_VERIFY_WITH_TIMEOUT(logged(QStringLiteral("hint Echec du carillon")), 30000);
    QVERIFY(logged(QStringLiteral("play Carill3.mp3 failed")));
    QVERIFY(logged(QStringLiteral("state -1")));
    QVERIFY(!logged(QStringLiteral("hint Double-cliquez pour interrompre le carillon")));
    stopClock();
}

QTEST_GUILESS_MAIN(TestChimesEndToEnd)
#include "tst_chimes_e2e.moc"
