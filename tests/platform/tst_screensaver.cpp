#include "ScreenSaver.h"
#include "TestDisplay.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QGuiApplication>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <optional>

namespace {

// A screen-saver service at its usual path on a connection of its own to the
// test's bus, answering GetActive with `active`, an error, or never, from a
// thread of its own, as a service in another process would while the client
// waits.
class ServiceOnBus : public QDBusVirtualObject
{
public:
    enum Behaviour { Answer, Error, Hang };

    ServiceOnBus(const QString &service, Behaviour behaviour)
        : behaviour(behaviour), connection(QDBusConnection::connectToBus(QDBusConnection::SessionBus, service)),
          path(QLatin1Char('/') + QString(service).replace(QLatin1Char('.'), QLatin1Char('/')))
    {
        thread.start();
        moveToThread(&thread);
        registered = connection.registerService(service) && connection.registerVirtualObject(path, this);
    }
    ~ServiceOnBus() override
    {
        connection.unregisterObject(path);
        QDBusConnection::disconnectFromBus(connection.name());
        thread.quit();
        thread.wait();
    }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        ++calls;
        if (behaviour != Hang)
            connection.send(behaviour == Answer ? message.createReply(QVariant(bool(active)))
                                                : message.createErrorReply(QDBusError::Failed, QStringLiteral("no")));
        return true;
    }
    QString introspect(const QString &) const override { return {}; }

    const Behaviour behaviour;
    QThread thread;
    QDBusConnection connection;
    QString path;
    bool registered = false;
    std::atomic<bool> active = false;
    std::atomic<int> calls = 0;
};

const QString freedesktop = QStringLiteral("org.freedesktop.ScreenSaver");

} // namespace

class TestScreenSaver : public QObject
{
    Q_OBJECT

public:
    bool busRunning = false;

private slots:
    void x11ScreenSaverFollowsXset()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("no X display");
        const std::unique_ptr<ScreenSaver> saver = makeScreenSaver();
        QVERIFY(!saver->isActive());
        for (const char *state : {"activate", "reset"}) {
            QCOMPARE(QProcess::execute(QStringLiteral("xset"), {"s", state}), 0);
            QTRY_COMPARE_WITH_TIMEOUT(saver->isActive(), qstrcmp(state, "activate") == 0, 10000);
        }
    }

    void sessionBusService_data()
    {
        QTest::addColumn<QString>("service");
        QTest::addColumn<int>("behaviour");
        QTest::addColumn<bool>("freedesktopHangs"); // beside the service
        QTest::newRow("freedesktop") << freedesktop << int(ServiceOnBus::Answer) << false;
        QTest::newRow("freedesktop, failing") << freedesktop << int(ServiceOnBus::Error) << false;
        QTest::newRow("GNOME, freedesktop hung") << "org.gnome.ScreenSaver" << int(ServiceOnBus::Answer) << true;
    }

    // Every question is answered by the service's state at that moment, from
    // the first one on; a service that fails means not running, and a hung
    // one is asked once at a time.
    void sessionBusService()
    {
        QFETCH(QString, service);
        QFETCH(int, behaviour);
        QFETCH(bool, freedesktopHangs);
        if (!busRunning)
            QSKIP("no session bus of our own");
        ServiceOnBus bus(service, ServiceOnBus::Behaviour(behaviour));
        std::optional<ServiceOnBus> hung;
        if (freedesktopHangs)
            hung.emplace(freedesktop, ServiceOnBus::Hang);
        QVERIFY(bus.registered && (!hung || hung->registered));
        // A bound far above a service's answering time, so that a loaded machine passes too.
        const std::unique_ptr<ScreenSaver> saver = makeScreenSaver(freedesktopHangs ? 500 : 5000);
        for (bool running : {true, false, true}) {
            bus.active = running;
            QCOMPARE(saver->isActive(), running && behaviour == ServiceOnBus::Answer);
        }
        QCOMPARE(bus.calls, 3);
        QCOMPARE(hung ? int(hung->calls) : 1, 1);
    }
};

// Runs against an X server and a session bus of its own, so that activating
// the screen saver disturbs no other test and no service of the real session
// answers.
int main(int argc, char **argv)
{
    TestHome home;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.path() + QStringLiteral("/runtime")));
    TestDisplay display;
    qputenv("QT_QPA_PLATFORM", display.start() ? "xcb" : "offscreen");
    qputenv("DISPLAY", display.name().toLatin1());
    TestProgram dbus;
    dbus.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
    const bool busRunning = dbus.waitForReadyRead(20000);
    qputenv("DBUS_SESSION_BUS_ADDRESS", busRunning ? dbus.readLine().trimmed() : QByteArray());

    QGuiApplication app(argc, argv);
    TestScreenSaver test;
    test.busRunning = busRunning;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_screensaver.moc"
