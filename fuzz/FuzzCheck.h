#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// A broken invariant ends the run like a crash, so that libFuzzer keeps the input that broke it.
#define FUZZ_CHECK(condition, ...)                                                                           \
    ((condition) ? void()                                                                                    \
                 : (std::fprintf(stderr, "invariant broken at %s:%d: %s\n", __FILE__, __LINE__, #condition), \
                    std::fprintf(stderr, __VA_ARGS__), std::fputc('\n', stderr), std::abort()))

inline const std::string runPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Under $TINTAREL_FUZZ_SCRATCH, which fuzz/run.sh keeps in memory and removes even after a crash.
inline QString scratchFolder()
{
    static const QTemporaryDir folder(qEnvironmentVariable("TINTAREL_FUZZ_SCRATCH", QDir::tempPath())
                                      + QStringLiteral("/tintarel-fuzz-XXXXXX"));
    if (!folder.isValid())
        std::abort();
    return folder.path();
}

// A short write is no finding.
inline void putFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        std::abort();
}
