// Takes the clock down as the configuration program does and tells how long
// it took: from the start of CloseProcess until the given clock process was
// gone, and until CloseProcess returned. Used by scripts/bench-takedown.sh.
//
//   takedown_driver CLOCK_PID

#include "basProcess.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>

#include <cstdio>

namespace {

// The real waits, noting the first moment the clock is seen gone.
class WatchingWaiting final : public basProcess::Waiting
{
public:
    explicit WatchingWaiting(qint64 clock)
        : m_exe(QStringLiteral("/proc/%1/exe").arg(clock))
    {
    }
    std::int64_t elapsedMs() override { return m_real.elapsedMs(); }
    void yield() override
    {
        m_real.yield();
        if (goneAtMs < 0 && QFileInfo(m_exe).symLinkTarget().isEmpty())
            goneAtMs = m_real.elapsedMs();
    }
    std::int64_t goneAtMs = -1;

private:
    basProcess::EventLoopWaiting m_real;
    QString m_exe;
};

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    if (argc != 2)
        return 2;
    WatchingWaiting waiting(QByteArray(argv[1]).toLongLong());
    const auto processes = proc::makeSystemProcessTable();
    const auto windows = win::makeSystemWindowList();
    const std::int64_t start = waiting.elapsedMs();
    basProcess::CloseProcess({*processes, *windows, waiting}, basProcess::ClockExecutable);
    std::printf("gone_ms=%lld returned_ms=%lld last_pass=%d\n", static_cast<long long>(waiting.goneAtMs - start),
                static_cast<long long>(waiting.elapsedMs() - start), int(basProcess::ClosePass));
    return waiting.goneAtMs < 0 ? 1 : 0;
}
