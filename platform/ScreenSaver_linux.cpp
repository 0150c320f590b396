#include "ScreenSaver.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingReply>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QString>
#include <QThread>
#include <QtGui/qguiapplication_platform.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <vector>

#include <xcb/screensaver.h>
#include <xcb/xcb.h>

namespace {

struct FreeDeleter
{
    void operator()(void *p) const { std::free(p); }
};
template<typename T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;

// MIT-SCREEN-SAVER state of the display the application is shown on. False
// when the application does not run on X11 or the server lacks the extension.
bool x11ScreenSaverOn()
{
    auto *app = qGuiApp;
    if (!app)
        return false;
    auto *x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return false;
    xcb_connection_t *connection = x11->connection();
    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(connection, &xcb_screensaver_id);
    if (!extension || !extension->present)
        return false;
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen)
        return false;
    xcb_generic_error_t *rawError = nullptr;
    const XcbReply<xcb_screensaver_query_info_reply_t> reply(xcb_screensaver_query_info_reply(
        connection, xcb_screensaver_query_info(connection, screen->root), &rawError));
    const XcbReply<xcb_generic_error_t> error(rawError);
    if (!reply)
        return false;
    return reply->state == XCB_SCREENSAVER_STATE_ON || reply->state == XCB_SCREENSAVER_STATE_CYCLE;
}

// One session-bus screen-saver service. The reply is taken in by the bus's
// own thread, so a question can be waited for without turning the event
// loop. Only one question is outstanding at a time: a service that never
// answers costs one short wait per timeout.
class BusScreenSaver
{
public:
    BusScreenSaver(QString service, QString path) : m_service(std::move(service)), m_path(std::move(path)) {}

    // Sends a question unless one is outstanding; true when it did.
    bool ask()
    {
        collect();
        if (m_pending)
            return false;
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return false;
        QDBusMessage message = QDBusMessage::createMethodCall(m_service, m_path, m_service,
                                                              QStringLiteral("GetActive"));
        // Asking must never start a screen saver that is not running yet.
        message.setAutoStartService(false);
        m_pending.emplace(bus.asyncCall(message, timeoutMs));
        m_askedAt.start();
        return true;
    }

    bool answered() const { return !m_pending || m_pending->isFinished(); }

    // The latest answer, as long as its question is recent enough to speak
    // for this moment; an error or no answer counts as not running.
    bool active()
    {
        collect();
        return m_active && m_answerAskedAt.isValid() && m_answerAskedAt.elapsed() <= maxAnswerAgeMs;
    }

private:
    void collect()
    {
        if (!m_pending || !m_pending->isFinished())
            return;
        const QDBusPendingReply<bool> reply = *m_pending;
        m_active = !reply.isError() && reply.value();
        m_answerAskedAt = m_askedAt;
        m_pending.reset();
    }

    static constexpr int timeoutMs = 5000;
    // A service slower than the clock's wait speaks for the next tick.
    static constexpr qint64 maxAnswerAgeMs = 2000;
    QString m_service;
    QString m_path;
    std::optional<QDBusPendingCall> m_pending;
    QElapsedTimer m_askedAt;
    QElapsedTimer m_answerAskedAt;
    bool m_active = false;
};

// True while the X server's screen saver is on, or while a session-bus
// screen-saver service says so. GNOME answers only as org.gnome.ScreenSaver,
// other desktops as org.freedesktop.ScreenSaver; a service that is absent or
// fails counts as not running. Each call asks afresh and waits a bounded few
// milliseconds for the answers.
class LinuxScreenSaver final : public ScreenSaver
{
public:
    explicit LinuxScreenSaver(int answerWaitMs) : m_answerWaitMs(answerWaitMs)
    {
        m_bus.emplace_back(QStringLiteral("org.gnome.ScreenSaver"), QStringLiteral("/org/gnome/ScreenSaver"));
        m_bus.emplace_back(QStringLiteral("org.freedesktop.ScreenSaver"),
                           QStringLiteral("/org/freedesktop/ScreenSaver"));
    }

    bool isActive() override
    {
        bool active = x11ScreenSaverOn();
        std::vector<BusScreenSaver *> asked;
        for (BusScreenSaver &service : m_bus) {
            if (service.ask())
                asked.push_back(&service);
        }
        const QDeadlineTimer deadline(m_answerWaitMs);
        while (!std::all_of(asked.begin(), asked.end(), [](const BusScreenSaver *s) { return s->answered(); })
               && !deadline.hasExpired())
            QThread::usleep(100);
        for (BusScreenSaver &service : m_bus)
            active = service.active() || active;
        return active;
    }

private:
    int m_answerWaitMs;
    std::vector<BusScreenSaver> m_bus;
};

} // namespace

std::unique_ptr<ScreenSaver> makeScreenSaver(int answerWaitMs)
{
    return std::make_unique<LinuxScreenSaver>(answerWaitMs);
}
