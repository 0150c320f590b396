#include "TestSoundServer.h"

#include <QDeadlineTimer>
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

QProcess *TestSoundServer::client(QProcess *process, const QStringList &command)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_dir.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.path());
    env.insert(QStringLiteral("PULSE_SERVER"), address());
    process->setProcessEnvironment(env);
    process->start(command.first(), command.mid(1));
    process->waitForStarted(10000);
    return process;
}

bool TestSoundServer::start()
{
    m_server.setStandardErrorFile(QProcess::nullDevice());
    client(&m_server, {"pulseaudio", "-n", "-F", m_dir.filePath(QStringLiteral("server.pa")), "--daemonize=no",
                       "--exit-idle-time=-1", "--use-pid-file=no"});
    for (const QDeadlineTimer deadline(20000); !deadline.hasExpired(); QThread::msleep(50)) {
        QProcess info;
        if (client(&info, {"pactl", "info"})->waitForFinished(5000) && !info.exitCode())
            return true;
    }
    return false;
}

void TestSoundServer::stall() { ::kill(pid_t(m_server.processId()), SIGSTOP); }

void TestSoundServer::resume() { ::kill(pid_t(m_server.processId()), SIGCONT); }

void TestSoundServer::kill()
{
    for (QProcess *process : {&m_recorder, &m_server}) {
        if (process->state() != QProcess::NotRunning) {
            resume();
            process->kill();
            process->waitForFinished(5000);
        }
    }
}

void TestSoundServer::startRecording()
{
    m_recorded.clear();
    client(&m_recorder, {"parec", "-d", "bar.monitor", "--raw", "--format=s16le", "--channels=1", "--rate=8000"});
}

double TestSoundServer::secondsHeard()
{
    m_recorded += m_recorder.readAllStandardOutput();
    // The null sink sends nothing while idle; digital silence counts for nothing.
    const auto *samples = reinterpret_cast<const qint16 *>(m_recorded.constData());
    const int block = 400; // 50 ms
    int heard = 0;
    for (qsizetype start = 0; start + block <= m_recorded.size() / 2; start += block)
        heard += std::any_of(samples + start, samples + start + block, [](qint16 s) { return std::abs(s) > 3; });
    return heard * 0.05;
}

QList<QMap<QString, QString>> TestSoundServer::streams()
{
    QProcess pactl;
    client(&pactl, {"pactl", "list", "sink-inputs"})->waitForFinished(5000);
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
