#pragma once

#include <cstdio>
#include <cstdlib>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// A broken invariant ends the run like a crash, so that libFuzzer keeps the
// input that broke it.
#define FUZZ_CHECK(condition, ...)                                                                 \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "invariant broken at %s:%d: %s\n", __FILE__, __LINE__, #condition); \
            std::fprintf(stderr, __VA_ARGS__);                                                     \
            std::fputc('\n', stderr);                                                              \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// The target's scratch folder, made on first use under $TINTAREL_FUZZ_SCRATCH
// (fuzz/run.sh sets it and removes it afterwards, crash or not), else in
// memory where possible, since some targets sync every write.
inline QString scratchFolder()
{
    static QTemporaryDir *folder = [] {
        QString base = qEnvironmentVariable("TINTAREL_FUZZ_SCRATCH");
        if (base.isEmpty())
            base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        auto *made = new QTemporaryDir(base + QStringLiteral("/tintarel-fuzz-XXXXXX"));
        if (!made->isValid())
            std::abort();
        std::atexit([] { delete folder; });
        return made;
    }();
    return folder->path();
}

// Puts the input in a file whole, or ends the run: a short write is no finding.
inline void putFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        std::abort();
}
