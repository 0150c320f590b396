#pragma once

#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

// A PulseAudio server of the test's own with one null sink, whose monitor
// can be recorded, and the properties of the streams that play to it.
class TestSoundServer
{
public:
    TestSoundServer();
    ~TestSoundServer() { kill(); }
    bool start(); // again after kill(), on the same socket
    QString address() const { return QStringLiteral("unix:") + m_dir.filePath(QStringLiteral("native")); }
    void stall();  // SIGSTOP
    void resume(); // SIGCONT
    void kill();
    // Records the sink's monitor until the server goes.
    void startRecording();
    // Seconds of sound recorded so far, down to the faintest tail.
    double secondsHeard();
    // Each playing stream's properties, as `pactl list sink-inputs` shows them.
    QList<QMap<QString, QString>> streams();

private:
    QProcess *client(QProcess *process, const QStringList &command);

    QTemporaryDir m_dir;
    QProcess m_server, m_recorder;
    QByteArray m_recorded;
};
