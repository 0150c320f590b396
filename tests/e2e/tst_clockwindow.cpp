#include "TestDisplay.h"

#include <QDeadlineTimer>
#include <QSettings>
#include <QtTest>

#include <csignal>

// The real clock on a wide display, with and without a window manager: it
// shows, follows quick drags exactly, keeps its place across restarts and a
// lost X server, stays above and takes no focus. The cases share a display
// while they can; each has a home of its own.
class tst_ClockWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestDisplay> m_display;
    std::unique_ptr<TestWindowManager> m_manager;
    std::unique_ptr<TestHome> m_home;

    // A new home unless `keepHome`; the display, started again if it was lost.
    void setUp(bool withManager, const QByteArray &ini = {}, bool keepHome = false)
    {
        if (!keepHome)
            m_home = std::make_unique<TestHome>();
        if (!ini.isEmpty())
            m_home->writeSettings(ini);
        // A manager gone leaves its announcement on the root window: a case
        // without one after a case with one gets a display never managed.
        if (!m_display || (!withManager && m_manager)) {
            m_manager.reset();
            m_display = std::make_unique<TestDisplay>();
            QVERIFY(m_display->start(QStringLiteral("3840x1080x24")));
        }
        if (withManager && !m_manager)
            startManager(true);
    }
    void startManager(bool wait)
    {
        m_manager = std::make_unique<TestWindowManager>();
        QVERIFY(m_manager->start(m_display->name(), wait));
    }
    // The face once shown; waits up to a minute and a bit, the visibility rule's period.
    quint32 faceOf(DisplayObserver &screen, const TestProgram &clock, int timeoutMs = 70000)
    {
        std::optional<SeenWindow> face;
        waitFor([&] { return (face = screen.faceOf(clock.processId())).has_value(); }, timeoutMs);
        return face ? face->id : 0;
    }
    QString stored(const QString &key) const
    {
        return QSettings(m_home->settingsFile(), QSettings::IniFormat).value(key).toString();
    }
    // Error of the face's place against `expected` once it has settled.
    int settledError(DisplayObserver &screen, quint32 face, QPoint expected)
    {
        const QDeadlineTimer deadline(3000);
        QPoint now = screen.place(face);
        for (; now != expected && !deadline.hasExpired(); now = screen.place(face))
            QTest::qWait(10);
        return (now - expected).manhattanLength();
    }
    void drag(QPoint from, QPoint to) { QVERIFY(quickDrag(m_display->name(), from, to)); }

private Q_SLOTS:
    // Every start of a session: the clock and the manager at the same moment.
    void showsWhenStartedWithTheManager()
    {
        const int starts = qEnvironmentVariableIntValue("TINTAREL_STARTS") ?: 3;
        for (int i = 0; i < starts; ++i) {
            setUp(false, "[Position]\nTop=1500\nLeft=45000\n");
            startManager(false);
            auto clock = startClock(*m_home, m_display->name());
            DisplayObserver screen(m_display->name());
            // A manager sitting on the map request gets another at the next second.
            const quint32 face = faceOf(screen, *clock, 10000);
            QVERIFY2(face, qPrintable(QStringLiteral("start %1 of %2: no face").arg(i + 1).arg(starts)));
            QCOMPARE(screen.place(face), QPoint(3000, 100));
        }
    }

    // Shown at its stored place, above a window opened before it and one
    // opened after, without taking the focus, out of task bars; dragged and
    // closed as the configuration program closes it, by a close request.
    void storedPlaces_data()
    {
        QTest::addColumn<bool>("withManager");
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QPoint>("shown");
        QTest::addColumn<QPoint>("drag");
        QTest::addColumn<QString>("storedLeft");
        QTest::addColumn<QString>("startPosAfter");
        for (bool manager : {false, true}) {
            const char *name = manager ? "openbox" : "no manager";
            // 100 twips is 6.67 pixels: shown at 7, and stored back as 100, not 105.
            QTest::addRow("%s: a place between pixels keeps its twips", name)
                << manager << QByteArray("[Position]\nTop=100\nLeft=100\n") << QPoint(7, 7) << QPoint() << "100" << "";
            QTest::addRow("%s: off every monitor comes back", name)
                << manager << QByteArray("[Position]\nTop=1500\nLeft=90000\n") << QPoint(3840 - 88, 100) << QPoint()
                << QString::number((3840 - 88) * 15) << "";
            QTest::addRow("%s: once at the chosen place, then the last place", name)
                << manager << QByteArray("[Position]\nTop=1500\nLeft=1500\n[R%E9glages]\nStartPos=1\n")
                << QPoint(100, 100) << QPoint(50, 20) << "2250" << "0";
            QTest::addRow("%s: always at the chosen place, dragged or not", name)
                << manager << QByteArray("[Position]\nTop=1500\nLeft=1500\n[R%E9glages]\nStartPos=2\n")
                << QPoint(100, 100) << QPoint(50, 20) << "1500" << "2";
        }
    }
    void storedPlaces()
    {
        QFETCH(bool, withManager);
        QFETCH(QByteArray, ini);
        QFETCH(QPoint, shown);
        QFETCH(QPoint, drag);
        setUp(withManager, ini);
        DisplayObserver screen(m_display->name());
        const quint32 before = screen.openWindow(QRect(50, 50, 400, 300));
        QTRY_VERIFY(screen.viewable(before));
        const quint32 focusBefore = screen.focus();
        auto clock = startClock(*m_home, m_display->name());
        const quint32 face = faceOf(screen, *clock);
        QVERIFY(face);
        QCOMPARE(screen.place(face), shown);
        QCOMPARE(screen.focus(), focusBefore);
        if (withManager) {
            QVERIFY(screen.property(screen.root(), "_NET_ACTIVE_WINDOW")
                    != QByteArray::fromRawData(reinterpret_cast<const char *>(&face), 4));
            for (const char *wanted : {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER", "_NET_WM_STATE_ABOVE"})
                QVERIFY2(screen.hasAtom(face, "_NET_WM_STATE", wanted), wanted);
        }
        const quint32 after = screen.openWindow(QRect(60, 60, 400, 300));
        QTRY_VERIFY(screen.viewable(after));
        QTRY_VERIFY(screen.above(face, after));
        QVERIFY(screen.above(face, before));
        if (!drag.isNull()) {
            this->drag(shown + QPoint(5, 5), shown + drag + QPoint(5, 5));
            QCOMPARE(settledError(screen, face, shown + drag), 0);
        }
        const auto application = screen.titledWindowOf(clock->processId(), QStringLiteral("Tintarel"));
        QVERIFY(application);
        screen.requestClose(application->id);
        QVERIFY(clock->waitForFinished(10000));
        QCOMPARE(clock->exitCode(), 0);
        QTEST(stored(QStringLiteral("Position/Left")), "storedLeft");
        QTEST(stored(QStringLiteral("Réglages/StartPos")), "startPosAfter");
    }

    // Quick drags follow the pointer, and the place survives restarts and a
    // lost X server exactly.
    void dragsAreExactAndKept_data()
    {
        QTest::addColumn<bool>("withManager");
        QTest::newRow("no window manager") << false;
        QTest::newRow("openbox") << true;
    }
    void dragsAreExactAndKept()
    {
        QFETCH(bool, withManager);
        setUp(withManager, "[Position]\nTop=6000\nLeft=15000\n");
        auto clock = startClock(*m_home, m_display->name());
        QPoint place(1000, 400);
        const QPoint dragged(3000, 700);
        {
            DisplayObserver screen(m_display->name());
            const quint32 face = faceOf(screen, *clock);
            QVERIFY(face);
            QCOMPARE(screen.place(face), place);
            const int drags = qEnvironmentVariableIntValue("TINTAREL_DRAGS") ?: 5;
            int worst = 0;
            for (int i = 0; i < drags; ++i) {
                const QPoint delta = (i % 2 ? -1 : 1) * QPoint(120 + 7 * i, 40 + i % 3);
                drag(place + QPoint(10, 10), place + QPoint(10, 10) + delta);
                place += delta;
                worst = std::max(worst, settledError(screen, face, place));
            }
            qInfo("worst drag error %d px in %d quick drags", worst, drags);
            QVERIFY2(worst <= 1, qPrintable(QString::number(worst)));
            // Each drag is stored as it ends; a lost X server loses nothing.
            QTRY_COMPARE(stored(QStringLiteral("Position/Left")), QString::number(place.x() * 15));
            QCOMPARE(stored(QStringLiteral("Position/Top")), QString::number(place.y() * 15));
            drag(place + QPoint(10, 10), dragged + QPoint(10, 10));
            QCOMPARE(settledError(screen, face, dragged), 0);
            QTRY_COMPARE(stored(QStringLiteral("Position/Left")), QString::number(dragged.x() * 15));
        }
        const QByteArray kept = m_home->readSettings();
        m_manager.reset();
        m_display.reset();
        QVERIFY(clock->waitForFinished(10000));
        QCOMPARE(m_home->readSettings(), kept);

        // Restarts on a new server come back exactly there and store the same
        // text. A second clock ends at once and leaves the first alone; a clock
        // killed outright leaves its lock behind, which must not block the next.
        setUp(withManager, {}, true);
        DisplayObserver again(m_display->name());
        for (int i = 0; i < 3; ++i) {
            auto next = startClock(*m_home, m_display->name());
            const quint32 face = faceOf(again, *next);
            QVERIFY(face);
            QCOMPARE(again.place(face), dragged);
            if (i == 0) {
                auto second = startClock(*m_home, m_display->name());
                QVERIFY(second->waitForFinished(10000));
                QCOMPARE(second->exitCode(), 0);
                QCOMPARE(next->state(), QProcess::Running);
                ::kill(pid_t(next->processId()), SIGKILL);
            } else {
                next->terminate();
            }
            QVERIFY(next->waitForFinished(10000));
            QCOMPARE(m_home->readSettings(), kept);
        }
    }
};

QTEST_GUILESS_MAIN(tst_ClockWindow)
#include "tst_clockwindow.moc"
