#include "ScreenSaver.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A screen-saver service on the session bus, answering GetActive with a
// set answer, an error, or never.
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
            connection.send(message.createReply(QVariant(active)));
        else if (behaviour == Behaviour::Error)
            connection.send(message.createErrorReply(QDBusError::Failed, QStringLiteral("no idea")));
        return true;
    }
    QString introspect(const QString &) const override { return {}; }

    Behaviour behaviour = Behaviour::Answer;
    bool active = false;
    int calls = 0;
};

// Owns a service name on its own connection to the test's bus.
struct ServiceOnBus
{
    ServiceOnBus(const QString &service, const QString &path, const QString &connectionName)
        : connection(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName)),
          name(connectionName), path(path)
    {
        registered = connection.isConnected() && connection.registerService(service)
                     && connection.registerVirtualObject(path, &fake);
    }
    ~ServiceOnBus()
    {
        connection.unregisterObject(path);
        QDBusConnection::disconnectFromBus(name);
    }

    FakeSaverService fake;
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
    QTest::newRow("freedesktop, not running") << freedesktop << int(B::Answer) << false;
    QTest::newRow("freedesktop, failing") << freedesktop << int(B::Error) << true;
}

void TestScreenSaver::sessionBusService()
{
    QFETCH(QString, service);
    QFETCH(int, behaviour);
    QFETCH(bool, active);
    if (!busRunning)
        QSKIP("no session bus of our own");

    ServiceOnBus bus(service, pathOf(service), QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(bus.registered);
    bus.fake.behaviour = FakeSaverService::Behaviour(behaviour);
    bus.fake.active = active;

    const std::unique_ptr<ScreenSaver> saver = makeScreenSaver();
    const bool expected = active && bus.fake.behaviour == FakeSaverService::Behaviour::Answer;
    // Each answer is used from the question after it; a second question is
    // asked only once the first was answered.
    QTRY_VERIFY_WITH_TIMEOUT((saver->isActive(), bus.fake.calls >= 2), 10000);
    QCOMPARE(saver->isActive(), expected);

    if (expected) {
        bus.fake.active = false;
        QTRY_VERIFY_WITH_TIMEOUT(!saver->isActive(), 10000);
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
    answering.fake.active = true;

    const std::unique_ptr<ScreenSaver> saver = makeScreenSaver();
    QTRY_VERIFY_WITH_TIMEOUT(saver->isActive(), 10000);
    // Asked again and again until the answering service has had its next
    // question: the hung one must still have had only its first.
    QTRY_VERIFY_WITH_TIMEOUT((saver->isActive(), answering.fake.calls > 1), 10000);
    QCOMPARE(hung.fake.calls, 1);
}

// Runs against an X server and a session bus of its own, so that activating
// the screen saver disturbs no other test and no service of the real session
// answers.
int main(int argc, char **argv)
{
    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));

    // -noreset: otherwise the server resets when xset disconnects and the
    // screen saver is off again at once.
    QProcess xvfb;
    xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"),
                                        QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-screen"),
                                        QStringLiteral("0"), QStringLiteral("1280x1024x24")});
    if (xvfb.waitForReadyRead(20000)) {
        qputenv("DISPLAY", ":" + xvfb.readAllStandardOutput().trimmed());
        qputenv("QT_QPA_PLATFORM", "xcb");
    } else {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }

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
    for (QProcess *process : {&dbus, &xvfb}) {
        process->terminate();
        process->waitForFinished(5000);
    }
    return result;
}

#include "tst_screensaver.moc"
