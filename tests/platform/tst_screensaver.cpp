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

// A screen-saver service on the session bus, answering GetActive with a
// set answer, an error, or never. It answers from a thread of its own, as a
// service in another process would, while the client waits.
class FakeSaverService : public QDBusVirtualObject
{
public:
    enum class Behaviour { Answer, Error, Hang };

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        if (message.member() != QLatin1String("GetActive"))
            return false;
        ++calls;
        if (behaviour == Behaviour::Answer)
            connection.send(message.createReply(QVariant(bool(active))));
        else if (behaviour == Behaviour::Error)
            connection.send(message.createErrorReply(QDBusError::Failed, QStringLiteral("no idea")));
        return true;
    }
    QString introspect(const QString &) const override { return {}; }

    std::atomic<Behaviour> behaviour = Behaviour::Answer;
    std::atomic<bool> active = false;
    std::atomic<int> calls = 0;
};

// Owns a service name on its own connection to the test's bus.
struct ServiceOnBus
{
    ServiceOnBus(const QString &service, const QString &path, const QString &connectionName)
        : connection(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName)),
          name(connectionName), path(path)
    {
        thread.start();
        fake.moveToThread(&thread);
        registered = connection.isConnected() && connection.registerService(service)
                     && connection.registerVirtualObject(path, &fake);
    }
    ~ServiceOnBus()
    {
        connection.unregisterObject(path);
        QDBusConnection::disconnectFromBus(name);
        thread.quit();
        thread.wait();
    }

    FakeSaverService fake;
    QThread thread;
    QDBusConnection connection;
    QString name;
    QString path;
    bool registered = false;
};

const QString gnome = QStringLiteral("org.gnome.ScreenSaver");
const QString freedesktop = QStringLiteral("org.freedesktop.ScreenSaver");

QString pathOf(const QString &service)
{
    return QLatin1Char('/') + QString(service).replace(QLatin1Char('.'), QLatin1Char('/'));
}

bool onX11()
{
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

} // namespace

class TestScreenSaver : public QObject
{
    Q_OBJECT

public:
    bool busRunning = false;

private slots:
    void x11ScreenSaverFollowsXset();
    void sessionBusService_data();
    void sessionBusService();
    void hungServiceIsAskedOnceAtATime();
};

void TestScreenSaver::x11ScreenSaverFollowsXset()
{
    if (!onX11())
        QSKIP("no X display");
    const std::unique_ptr<ScreenSaver> saver = makeScreenSaver();
    QVERIFY(!saver->isActive());

    QCOMPARE(QProcess::execute(QStringLiteral("xset"), {QStringLiteral("s"), QStringLiteral("activate")}), 0);
    QTRY_VERIFY_WITH_TIMEOUT(saver->isActive(), 10000);
    QCOMPARE(QProcess::execute(QStringLiteral("xset"), {QStringLiteral("s"), QStringLiteral("reset")}), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!saver->isActive(), 10000);
}

void TestScreenSaver::sessionBusService_data()
{
    QTest::addColumn<QString>("service");
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<bool>("active");

    using B = FakeSaverService::Behaviour;
    QTest::newRow("GNOME, running") << gnome << int(B::Answer) << true;
    QTest::newRow("GNOME, not running") << gnome << int(B::Answer) << false;
    QTest::newRow("freedesktop, running") << freedesktop << int(B::Answer) << true;
    QTest::newRow("freedesktop, failing") << freedesktop << int(B::Error) << true;
    QTest::newRow("no service") << QString() << int(B::Answer) << true;
}

// Every question is answered by the service's state at that moment, from
// the first one on; a service that fails or is absent means not running.
void TestScreenSaver::sessionBusService()
{
    QFETCH(QString, service);
    QFETCH(int, behaviour);
    QFETCH(bool, active);
    if (!busRunning)
        QSKIP("no session bus of our own");

    std::optional<ServiceOnBus> bus;
    if (!service.isEmpty()) {
        bus.emplace(service, pathOf(service), QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(bus->registered);
        bus->fake.behaviour = FakeSaverService::Behaviour(behaviour);
        bus->fake.active = active;
    }
    const bool answers = bus && bus->fake.behaviour == FakeSaverService::Behaviour::Answer;

    // A bound far above a service's answering time, so that a loaded machine passes too.
    const std::unique_ptr<ScreenSaver> saver = makeScreenSaver(5000);
    for (bool running : {active, !active, active}) {
        if (bus)
            bus->fake.active = running;
        QCOMPARE(saver->isActive(), answers && running);
    }
}

void TestScreenSaver::hungServiceIsAskedOnceAtATime()
{
    if (!busRunning)
        QSKIP("no session bus of our own");
    ServiceOnBus hung(freedesktop, pathOf(freedesktop), QStringLiteral("hung"));
    ServiceOnBus answering(gnome, pathOf(gnome), QStringLiteral("answering"));
    QVERIFY(hung.registered && answering.registered);
    hung.fake.behaviour = FakeSaverService::Behaviour::Hang;

    const std::unique_ptr<ScreenSaver> saver = makeScreenSaver(500);
    for (bool running : {true, false, true}) {
        answering.fake.active = running;
        QCOMPARE(saver->isActive(), running);
    }
    QCOMPARE(answering.fake.calls, 3);
    QCOMPARE(hung.fake.calls, 1);
}

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

    QProcess dbus;
    dbus.start(QStringLiteral("dbus-daemon"),
               {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1")});
    const bool busRunning = dbus.waitForReadyRead(20000);
    if (busRunning)
        qputenv("DBUS_SESSION_BUS_ADDRESS", dbus.readLine().trimmed());
    else
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");

    int result = 0;
    {
        QGuiApplication app(argc, argv);
        TestScreenSaver test;
        test.busRunning = busRunning;
        result = QTest::qExec(&test, argc, argv);
    }
    dbus.terminate();
    dbus.waitForFinished(5000);
    return result;
}

#include "tst_screensaver.moc"
