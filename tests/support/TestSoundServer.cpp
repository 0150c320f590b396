#include "TestSoundServer.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

#include <csignal>

TestSoundServer::TestSoundServer()
{
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QFile script(m_dir.filePath(QStringLiteral("server.pa")));
    if (script.open(QIODevice::WriteOnly))
        script.write("load-module module-native-protocol-unix auth-anonymous=1 socket=" +
                     QFile::encodeName(m_dir.filePath(QStringLiteral("native"))) +
                     "\nload-module module-null-sink sink_name=bar\nset-default-sink bar\n");
}

TestSoundServer::~TestSoundServer()
{
    stopRecording();
    kill();
}

QProcessEnvironment TestSoundServer::clientEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_dir.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
    env.insert(QStringLiteral("PULSE_SERVER"), address());
    return env;
}

bool TestSoundServer::start()
{
    QFile::remove(m_dir.filePath(QStringLiteral("native")));
    m_server.setProcessEnvironment(clientEnvironment());
    m_server.setStandardOutputFile(QProcess::nullDevice());
    m_server.setStandardErrorFile(QProcess::nullDevice());
    m_server.start(QStringLiteral("pulseaudio"),
                   {QStringLiteral("-n"), QStringLiteral("-F"), m_dir.filePath(QStringLiteral("server.pa")),
                    QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                    QStringLiteral("--use-pid-file=no")});
    if (!m_server.waitForStarted(10000))
        return false;
    // Ready once it answers.
    const QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        QProcess info;
        info.setProcessEnvironment(clientEnvironment());
        info.start(QStringLiteral("pactl"), {QStringLiteral("info")});
        if (info.waitForFinished(5000) && info.exitCode() == 0)
            return true;
        QThread::msleep(50);
    }
    return false;
}

void TestSoundServer::stall() { ::kill(pid_t(m_server.processId()), SIGSTOP); }

void TestSoundServer::resume() { ::kill(pid_t(m_server.processId()), SIGCONT); }

void TestSoundServer::kill()
{
    if (m_server.state() == QProcess::NotRunning)
        return;
    resume();
    m_server.kill();
    m_server.waitForFinished(5000);
}

void TestSoundServer::startRecording()
{
    m_recorded.clear();
    m_recorder.setProcessEnvironment(clientEnvironment());
    m_recorder.start(QStringLiteral("parec"), {QStringLiteral("-d"), QStringLiteral("bar.monitor"),
                                               QStringLiteral("--raw"), QStringLiteral("--format=s16le"),
                                               QStringLiteral("--channels=1"), QStringLiteral("--rate=8000")});
    m_recorder.waitForStarted(10000);
}

double TestSoundServer::secondsHeard()
{
    m_recorded += m_recorder.readAllStandardOutput();
    // The null sink sends nothing while idle; digital silence counts for nothing.
    const auto *samples = reinterpret_cast<const qint16 *>(m_recorded.constData());
    const qsizetype count = m_recorded.size() / 2;
    const int block = 400; // 50 ms
    int loud = 0;
    for (qsizetype start = 0; start + block <= count; start += block) {
        int peak = 0;
        for (int i = 0; i < block; ++i)
            peak = std::max(peak, std::abs(int(samples[start + i])));
        loud += peak > 3;
    }
    return loud * 0.05;
}

void TestSoundServer::stopRecording()
{
    if (m_recorder.state() == QProcess::NotRunning)
        return;
    m_recorder.kill();
    m_recorder.waitForFinished(5000);
}

QList<QMap<QString, QString>> TestSoundServer::streams()
{
    QProcess pactl;
    pactl.setProcessEnvironment(clientEnvironment());
    pactl.start(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("sink-inputs")});
    pactl.waitForFinished(5000);
    QList<QMap<QString, QString>> found;
    static const QRegularExpression property(QStringLiteral(R"re(^\s+([\w.]+) = "(.*)"$)re"));
    for (const QString &line : QString::fromUtf8(pactl.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("Sink Input #")))
            found.append(QMap<QString, QString>());
        const QRegularExpressionMatch match = property.match(line);
        if (match.hasMatch() && !found.isEmpty())
            found.last().insert(match.captured(1), match.captured(2));
    }
    return found;
}
