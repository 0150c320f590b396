#include "FakeProcessSystem.h"
#include "basProcess.h"

#include <QtTest>

using Pid = proc::DWORD;

// The passes of CloseProcess over a simulated system, whose time moves 10 ms
// with every yield.
class tst_CloseProcess : public QObject
{
    Q_OBJECT

private:
    FakeProcessSystem *system = nullptr;

    void close(const QString &name = basProcess::ClockExecutable)
    {
        basProcess::CloseProcess({*system, *system, *system}, name);
    }
    static FakeProcessSystem::Window window(win::HWND id, const std::string &title, bool enabled = true,
                                            win::HWND popup = 0)
    {
        return {id, title, enabled, popup};
    }
    using Passes = std::vector<int>;

private Q_SLOTS:
    void init() { system = new FakeProcessSystem; }
    void cleanup()
    {
        QCOMPARE(system->handlesOpen(), 0);
        QVERIFY(system->badRestacks().empty());
        delete system;
    }

    void findsOnlyTheExactName_data()
    {
        QTest::addColumn<QByteArray>("running");
        QTest::addColumn<bool>("found");
        QTest::newRow("same") << QByteArray("Tintarel") << true;
        QTest::newRow("cut at its NUL") << QByteArray("Tintarel\0.old", 13) << true;
        QTest::newRow("other case") << QByteArray("tintarel") << false;
        QTest::newRow("upper case") << QByteArray("TINTAREL") << false;
        QTest::newRow("longer") << QByteArray("TintarelPanel") << false;
        QTest::newRow("Windows name") << QByteArray("Tintarel.exe") << false;
        QTest::newRow("trailing blank") << QByteArray("Tintarel ") << false;
    }
    void findsOnlyTheExactName()
    {
        QFETCH(QByteArray, running);
        QFETCH(bool, found);
        system->add(10, "bash");
        system->add(20, running.toStdString());
        system->add(30, "Xvfb");
        QCOMPARE(basProcess::FindProcess(*system, basProcess::ClockExecutable), found);
    }

    void noSnapshotNoSearchNoWait()
    {
        system->add(20).windows = {window(7, "Tintarel")};
        system->snapshotFails = true;
        QVERIFY(!basProcess::FindProcess(*system, basProcess::ClockExecutable));
        close();
        QCOMPARE(system->snapshots, 2);
        QCOMPARE(system->yields, 0);
        QVERIFY(system->requests.empty());
        QVERIFY(system->running(20));
    }

    void clockClosingAtItsFirstRequestIsGoneAfterPassOne()
    {
        system->add(20).windows = {window(7, ""), window(8, "Tintarel")};
        system->process(20)->otherThreads = {21, 22};
        close();
        QCOMPARE(system->requests.size(), 1u);
        QCOMPARE(system->requests[0].pass, 1);
        QCOMPARE(system->requests[0].title, std::string("Tintarel"));
        QVERIFY(!system->running(20));
        // Gone 50 ms after the request, then one end-of-pass second; pass 2
        // finds nothing and does not wait.
        QCOMPARE(system->snapshots, 2);
        QCOMPARE(system->now, 50 + 1000);
        QVERIFY(system->kills.empty());
    }

    void windowRuleOfEachPass_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("ownPopup");
        QTest::addColumn<Passes>("passes");
        QTest::newRow("enabled, no popup") << "Tintarel" << true << true << Passes {1, 2, 3};
        QTest::newRow("enabled, with a popup") << "Tintarel" << true << false << Passes {2, 3};
        QTest::newRow("disabled by a dialog") << "Tintarel" << false << false << Passes {3};
        QTest::newRow("disabled, no popup") << "Tintarel" << false << true << Passes {3};
        QTest::newRow("DDE window") << "DDE Server Window" << true << true << Passes {};
        QTest::newRow("OLE window") << "OleMainThreadWndName" << true << true << Passes {};
        QTest::newRow("untitled") << "" << true << true << Passes {};
        QTest::newRow("DDE, other case") << "DDE server window" << true << true << Passes {1, 2, 3};
        QTest::newRow("OLE, longer") << "OleMainThreadWndName2" << false << true << Passes {3};
    }
    void windowRuleOfEachPass()
    {
        QFETCH(QString, title);
        QFETCH(bool, enabled);
        QFETCH(bool, ownPopup);
        QFETCH(Passes, passes);
        FakeProcessSystem::Process &clock = system->add(20);
        clock.obeysClose = false;
        clock.windows = {window(7, title.toStdString(), enabled, ownPopup ? 0 : 9), window(9, "")};
        close();
        QCOMPARE(system->passesRequested(title.toStdString()), passes);
        QCOMPARE(system->kills, (std::vector<std::pair<int, Pid>> {{4, 20}}));
        QCOMPARE(system->terminateCodes, std::vector<proc::DWORD> {proc::STILL_ACTIVE});
        QVERIFY(system->wtsKills.empty());
        QCOMPARE(system->snapshots, 5);
    }

    void everyClockIsAskedInTheSamePass()
    {
        system->add(20).windows = {window(7, "Tintarel")};
        system->add(25, "tintarel").windows = {window(8, "Tintarel")};
        FakeProcessSystem::Process &stubborn = system->add(30);
        stubborn.obeysClose = false;
        stubborn.windows = {window(9, "Tintarel")};
        close();
        const auto pidsOfPass = [this](int pass) {
            std::vector<Pid> pids;
            for (const auto &r : system->requests)
                if (r.pass == pass)
                    pids.push_back(r.pid);
            return pids;
        };
        QCOMPARE(pidsOfPass(1), (std::vector<Pid> {20, 30}));
        QCOMPARE(pidsOfPass(2), std::vector<Pid> {30});
        QCOMPARE(pidsOfPass(3), std::vector<Pid> {30});
        QCOMPARE(system->kills, (std::vector<std::pair<int, Pid>> {{4, 30}}));
        QVERIFY(system->running(25));
        QCOMPARE(system->snapshots, 5);
    }

    void forceRisesUntilTheClockIsGone_data()
    {
        QTest::addColumn<bool>("canOpen");
        QTest::addColumn<bool>("survivesTerminate");
        QTest::addColumn<bool>("survivesTerminalServices");
        QTest::addColumn<int>("terminateCalls");
        QTest::addColumn<int>("wtsCalls");
        QTest::addColumn<int>("snapshots");
        QTest::addColumn<int>("seconds");
        // Passes 1-3: one second for the window and one at the end; pass 4:
        // one after the kill and one at the end; later passes one each.
        QTest::newRow("killed in pass 4") << true << false << false << 1 << 0 << 5 << 8;
        QTest::newRow("cannot be opened") << false << false << false << 0 << 1 << 6 << 9;
        QTest::newRow("survives the kill") << true << true << false << 1 << 1 << 6 << 9;
        QTest::newRow("survives everything") << true << true << true << 1 << 1 << 6 << 10;
    }
    void forceRisesUntilTheClockIsGone()
    {
        QFETCH(bool, canOpen);
        QFETCH(bool, survivesTerminate);
        QFETCH(bool, survivesTerminalServices);
        QFETCH(int, terminateCalls);
        QFETCH(int, wtsCalls);
        QFETCH(int, snapshots);
        QFETCH(int, seconds);
        FakeProcessSystem::Process &clock = system->add(20);
        clock.obeysClose = false;
        clock.canOpen = canOpen;
        clock.survivesTerminate = survivesTerminate;
        clock.survivesTerminalServices = survivesTerminalServices;
        clock.windows = {window(7, "Tintarel")};
        close();
        QCOMPARE(int(system->kills.size()), terminateCalls);
        QCOMPARE(int(system->wtsKills.size()), wtsCalls);
        if (wtsCalls) {
            QCOMPARE(system->wtsKills.front().first, 5);
            QCOMPARE(system->serversAsked, std::vector<QString> {basProcess::TerminalServerName()});
        }
        QCOMPARE(system->snapshots, snapshots);
        QCOMPARE(system->now, seconds * 1000);
        QCOMPARE(system->running(20), survivesTerminate && survivesTerminalServices);
    }
};

QTEST_APPLESS_MAIN(tst_CloseProcess)
#include "tst_closeprocess.moc"
