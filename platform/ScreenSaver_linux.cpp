#include "ScreenSaver.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QObject>
#include <QString>
#include <cstdlib>
#include <QtGui/qguiapplication_platform.h>
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

// One session-bus screen-saver service, asked in the background. Only one
// question is outstanding at a time, so a service that never answers costs
// nothing more than its timeout.
class BusScreenSaver
{
public:
    BusScreenSaver(QString service, QString path) : m_service(std::move(service)), m_path(std::move(path)) {}

    bool lastAnswer() const { return m_active; }

    void ask(QObject *context)
    {
        if (m_pending)
            return;
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected())
            return;
        QDBusMessage message = QDBusMessage::createMethodCall(m_service, m_path, m_service,
                                                              QStringLiteral("GetActive"));
        // Asking must never start a screen saver that is not running yet.
        message.setAutoStartService(false);
        m_pending = new QDBusPendingCallWatcher(bus.asyncCall(message, timeoutMs), context);
        QObject::connect(m_pending, &QDBusPendingCallWatcher::finished, context,
                         [this](QDBusPendingCallWatcher *watcher) {
                             const QDBusPendingReply<bool> reply = *watcher;
                             m_active = !reply.isError() && reply.value();
                             watcher->deleteLater();
                             if (m_pending == watcher)
                                 m_pending = nullptr;
                         });
    }

private:
    static constexpr int timeoutMs = 5000;
    QString m_service;
    QString m_path;
    QDBusPendingCallWatcher *m_pending = nullptr;
    bool m_active = false;
};

// True while the X server's screen saver is on, or while a session-bus
// screen-saver service said so in its latest answer. GNOME answers only as
// org.gnome.ScreenSaver, other desktops as org.freedesktop.ScreenSaver; a
// service that is absent or fails counts as not running.
class LinuxScreenSaver final : public ScreenSaver
{
public:
    LinuxScreenSaver()
    {
        m_bus.emplace_back(QStringLiteral("org.gnome.ScreenSaver"), QStringLiteral("/org/gnome/ScreenSaver"));
        m_bus.emplace_back(QStringLiteral("org.freedesktop.ScreenSaver"),
                           QStringLiteral("/org/freedesktop/ScreenSaver"));
    }

    bool isActive() override
    {
        bool active = x11ScreenSaverOn();
        for (BusScreenSaver &service : m_bus) {
            service.ask(&m_context);
            active = active || service.lastAnswer();
        }
        return active;
    }

private:
    // m_context, declared last, is destroyed first and takes the outstanding
    // questions with it before the services they answer to.
    std::vector<BusScreenSaver> m_bus;
    QObject m_context;
};

} // namespace

std::unique_ptr<ScreenSaver> makeScreenSaver()
{
    return std::make_unique<LinuxScreenSaver>();
}
