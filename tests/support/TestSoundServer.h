#pragma once

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

// A PulseAudio server of the test's own with one null sink, whose monitor
// can be recorded, and the properties of the streams that play to it.
class TestSoundServer
{
public:
    TestSoundServer();
    ~TestSoundServer();
    // Starts the server (again, on the same socket, after kill()).
    bool start();
    // The environment a player needs to reach this server.
    QString address() const { return QStringLiteral("unix:") + m_dir.filePath(QStringLiteral("native")); }
    qint64 pid() const { return m_server.processId(); }
    void stall();  // SIGSTOP
    void resume(); // SIGCONT
    void kill();

    // Records the sink's monitor, 16-bit mono at 8 kHz, until stopRecording().
    void startRecording();
    // Seconds of sound, down to the faintest tail, recorded so far.
    double secondsHeard();
    void stopRecording();

    // The properties of each playing stream, as `pactl list sink-inputs` shows them.
    QList<QMap<QString, QString>> streams();

private:
    QProcessEnvironment clientEnvironment() const;

    QTemporaryDir m_dir;
    QProcess m_server;
    QProcess m_recorder;
    QByteArray m_recorded;
};
