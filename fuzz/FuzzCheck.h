#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <QDir>
#include <QString>

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

// Bugs already reported, each with a regression test in tests/fuzz/, may be
// named in $TINTAREL_FUZZ_KNOWN_BUGS (comma-separated) so that fuzzing goes
// on past them to find others; fuzz/run.sh names those not yet fixed.
inline bool knownBug(const char *name)
{
    static const std::string known = [] {
        const char *value = std::getenv("TINTAREL_FUZZ_KNOWN_BUGS");
        return "," + std::string(value ? value : "") + ",";
    }();
    return known.find("," + std::string(name) + ",") != std::string::npos;
}

// Where a target keeps its scratch files: $TINTAREL_FUZZ_SCRATCH (fuzz/run.sh
// sets it and removes it afterwards, crash or not), else a memory-backed
// folder when there is one, since some targets sync every write.
inline QString scratchBase()
{
    const QString chosen = qEnvironmentVariable("TINTAREL_FUZZ_SCRATCH");
    if (!chosen.isEmpty())
        return chosen;
    if (QDir(QStringLiteral("/dev/shm")).exists())
        return QStringLiteral("/dev/shm");
    return QDir::tempPath();
}
