// How long the player can hold up the event loop while its sound server
// stalls: plays one file again and again through the clock's own player
// (Close, Open, Play, then Stop and Close a moment later, as the clock
// does), to a PulseAudio server of its own that is stopped (SIGSTOP) and
// resumed at random moments. A 5 ms heartbeat timer measures how late the
// event loop runs.
//
//   playerstall FILE [CHIMES [control]]
//
// Needs pulseaudio on the PATH. Prints the longest and the 99th percentile
// lateness, the longest command, and how many chimes failed or were refused.

#include "ChimePlayer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: playerstall FILE [CHIMES [control]]\n");
        return 2;
    }
    const QString file = args.at(1);
    const int chimes = args.size() > 2 ? args.at(2).toInt() : 100;
    // The same run without a single command: how late a loaded machine
    // makes the loop by itself.
    const bool control = args.size() > 3 && args.at(3) == QLatin1String("control");

    QTemporaryDir dir;
    QFile script(dir.filePath(QStringLiteral("server.pa")));
    if (!script.open(QIODevice::WriteOnly))
        return 1;
    script.write("load-module module-native-protocol-unix auth-anonymous=1 socket=" +
                 QFile::encodeName(dir.filePath(QStringLiteral("native"))) +
                 "\nload-module module-null-sink sink_name=bar\nset-default-sink bar\n");
    script.close();
    QProcess server;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), dir.path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    server.setProcessEnvironment(env);
    server.start(QStringLiteral("pulseaudio"),
                 {QStringLiteral("-n"), QStringLiteral("-F"), script.fileName(), QStringLiteral("--daemonize=no"),
                  QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no")});
    if (!server.waitForStarted(10000))
        return 1;
    qputenv("PULSE_SERVER", "unix:" + QFile::encodeName(dir.filePath(QStringLiteral("native"))));
    QElapsedTimer ready;
    ready.start();
    while (!QFile::exists(dir.filePath(QStringLiteral("native"))) && ready.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const pid_t serverPid = pid_t(server.processId());

    auto player = makeChimePlayer();
    player->prepare();
    QMap<int, int> notices;
    int refused = 0;
    player->setCompletionHandler([&](int code) { ++notices[code]; });
    player->setDeviceType(QStringLiteral("MPEGVideo"));
    player->setFileName(file);

    QList<qint64> lateness;
    QElapsedTimer beat;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(5);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] { lateness.append(std::max<qint64>(0, beat.restart() - 5)); });
    beat.start();
    heartbeat.start();

    auto *random = QRandomGenerator::global();
    bool stalled = false;
    QElapsedTimer stallClock;
    qint64 stallUntil = 0;
    const auto wait = [&](int ms) {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < ms) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            if (stalled && stallClock.elapsed() >= stallUntil) {
                ::kill(serverPid, SIGCONT);
                stalled = false;
            } else if (!stalled && random->bounded(1000) < 2) {
                // A stall of 0.2 to 6 s, about every half second of play.
                ::kill(serverPid, SIGSTOP);
                stalled = true;
                stallClock.start();
                stallUntil = 200 + random->bounded(5800);
            }
        }
    };
    // The time spent inside the player's commands, apart from the loop's
    // lateness, which a loaded machine adds to.
    qint64 longestCommand = 0;
    const auto send = [&](const char *command) {
        if (control)
            return ChimePlayer::Result::Ok;
        QElapsedTimer took;
        took.start();
        const ChimePlayer::Result result = player->command(QLatin1String(command));
        longestCommand = std::max(longestCommand, took.elapsed());
        return result;
    };
    for (int i = 0; i < chimes; ++i) {
        send("Close");
        if (send("Open") == ChimePlayer::Result::NotAnswering)
            ++refused;
        player->setNotify(true);
        send("Play");
        wait(200 + random->bounded(1800));
        send("Stop");
        send("Close");
        wait(random->bounded(300));
    }
    ::kill(serverPid, SIGCONT);
    heartbeat.stop();
    std::sort(lateness.begin(), lateness.end());
    std::printf("%d chimes: event loop late by at most %lld ms (99th percentile %lld ms, %lld beats)\n", chimes,
                lateness.isEmpty() ? 0 : lateness.last(), lateness.isEmpty() ? 0 : lateness.at(lateness.size() * 99 / 100),
                qint64(lateness.size()));
    std::printf("longest command %lld ms; failure notices %d; opens refused while the back end was held up: %d\n",
                longestCommand, notices.value(ChimePlayer::NotifyFailure), refused);
    QElapsedTimer closing;
    closing.start();
    player.reset();
    std::printf("player destroyed in %lld ms\n", closing.elapsed());
    server.kill();
    server.waitForFinished(5000);
    return 0;
}
