// Found by fuzz/fuzz_registry: the library's registry routines end the
// program (std::terminate) when closing the key throws after the routine
// has already failed or thrown, because the key's guard closes it from its
// destructor, which must not throw. Each case runs in a child process so
// that the termination is observed rather than suffered.
#include "FakeRegistry.h"
#include "basReg.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

Q_DECLARE_METATYPE(FakeRegistry::Call)

namespace {

const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

} // namespace

class tst_FuzzFoundBasReg : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void closeThrowsAfterFailure_data()
    {
        QTest::addColumn<QString>("routine");
        QTest::addColumn<FakeRegistry::Call>("failingCall");
        QTest::addColumn<long>("code");
        using C = FakeRegistry::Call;
        // The input fuzz_registry reported: deleting a value that is not
        // there while closing throws.
        QTest::newRow("delete, value missing") << "delete" << C::Delete << long(reg::ERROR_SUCCESS);
        QTest::newRow("delete, deleting fails") << "delete" << C::Delete << 5L;
        QTest::newRow("read, query fails") << "read" << C::Query << 5L;
        QTest::newRow("read, query throws") << "read" << C::Query << long(FakeRegistry::throws);
        QTest::newRow("write, set fails") << "write" << C::Set << 1013L;
        QTest::newRow("write, set throws") << "write" << C::Set << long(FakeRegistry::throws);
        QTest::newRow("write, number does not convert") << "write number" << C::Set << long(reg::ERROR_SUCCESS);
    }

    void closeThrowsAfterFailure()
    {
        QFETCH(QString, routine);
        QFETCH(FakeRegistry::Call, failingCall);
        QFETCH(long, code);

        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            // Die quietly: no core file, and not through QtTest's crash handler.
            const rlimit noCore{0, 0};
            ::setrlimit(RLIMIT_CORE, &noCore);
            ::signal(SIGABRT, SIG_DFL);
            FakeRegistry registry;
            registry.keys[FakeRegistry::keyName(reg::HKEY_LOCAL_MACHINE, run)];
            if (code != reg::ERROR_SUCCESS)
                registry.failures[failingCall] = code;
            registry.failures[FakeRegistry::Call::Close] = FakeRegistry::throws;
            CapturedMessages messages;
            basReg routines(registry, messages);
            bool result = true;
            if (routine == QLatin1String("delete")) {
                result = routines.RegDemarrEffacer("Tintarel", true);
            } else if (routine == QLatin1String("read")) {
                RegValue value;
                result = routines.RegLectureValeur(reg::HKEY_LOCAL_MACHINE, run, "Tintarel", 1, value, true);
            } else if (routine == QLatin1String("write")) {
                result = routines.RegDemarrEcrire(1, "Tintarel", "/opt/tintarel/Tintarel", true);
            } else {
                result = routines.RegDemarrEcrire(4, "Tintarel", "not a number", true);
            }
            // Reached only when the routine returned: it must report failure.
            ::_exit(result ? 3 : 0);
        }

        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0,
                 qPrintable(WIFSIGNALED(status) ? QStringLiteral("killed by signal %1").arg(WTERMSIG(status))
                                                : QStringLiteral("exit %1").arg(WEXITSTATUS(status))));
    }
};

QTEST_GUILESS_MAIN(tst_FuzzFoundBasReg)
#include "tst_fuzzfound_basreg.moc"
