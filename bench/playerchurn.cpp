// Plays one sound file again and again through the clock's own player, as
// the clock does at every quarter (Close, Open, Play, wait for the notice),
// and prints after every round the resident memory, the allocator's bytes in
// use and free, and the open descriptors, to tell a leak from a heap that
// settles.
//
//   playerchurn FILE ROUNDS [EVERY]
//
// EVERY (default 10) is how often a line is printed. A line per round is
// "round rss_kB heap_in_use_kB heap_free_kB fds threads".

#include "ChimePlayer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <malloc.h>

#include <cstdio>

namespace {

qint64 statusField(const QByteArray &name)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(name + ':'))
            return line.mid(name.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

void report(int round)
{
    const struct mallinfo2 heap = mallinfo2();
    const qsizetype fds = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size();
    std::printf("%d %lld %zu %zu %lld %lld\n", round, statusField("VmRSS"), (heap.uordblks + heap.hblkhd) / 1024,
                heap.fordblks / 1024, qint64(fds), statusField("Threads"));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: playerchurn FILE ROUNDS [EVERY]\n");
        return 2;
    }
    const QString file = args.at(1);
    const int rounds = args.at(2).toInt();
    const int every = args.size() > 3 ? qMax(1, args.at(3).toInt()) : 10;

    auto player = makeChimePlayer();
    player->prepare();
    bool ended = false;
    int failures = 0;
    player->setCompletionHandler([&](int code) {
        ended = true;
        if (code != ChimePlayer::NotifySuccessful)
            ++failures;
    });
    player->setDeviceType(QStringLiteral("MPEGVideo"));
    player->setFileName(file);
    std::printf("# round rss_kB heap_in_use_kB heap_free_kB fds threads\n");
    report(0);
    for (int round = 1; round <= rounds; ++round) {
        ended = false;
        player->command(QStringLiteral("Close"));
        if (player->command(QStringLiteral("Open")) != ChimePlayer::Result::Ok) {
            std::fprintf(stderr, "cannot open %s\n", qPrintable(file));
            return 1;
        }
        player->setNotify(true);
        player->command(QStringLiteral("Play"));
        QElapsedTimer waited;
        waited.start();
        while (!ended && waited.elapsed() < 120000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        if (!ended)
            ++failures;
        if (round % every == 0 || round == rounds)
            report(round);
    }
    player->command(QStringLiteral("Close"));
    report(rounds + 1);
    std::fprintf(stderr, "%d rounds, %d failed\n", rounds, failures);
    return failures == 0 ? 0 : 1;
}
