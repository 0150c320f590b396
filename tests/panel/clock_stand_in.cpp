// A stand-in for the clock in tests of its take-down. It shows a titled main
// window and, on request, a modal dialog, never-mapped titled windows and an
// untitled one. Each close request it receives (WM_DELETE_WINDOW) is printed
// as "close [title]" before Qt sees it, since Qt drops the ones sent to a
// window that a modal dialog blocks.
//
//   clock_stand_in [--title T] [--modal T] [--hidden T]... [--untitled] [--ignore-close]

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QCommandLineParser>
#include <QDialog>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    xcb_intern_atom_reply_t *reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return result;
}

class CloseRecorder : public QAbstractNativeEventFilter
{
public:
    xcb_atom_t protocols = XCB_ATOM_NONE;
    xcb_atom_t deleteWindow = XCB_ATOM_NONE;
    bool swallow = false;

    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        const auto *client = static_cast<const xcb_client_message_event_t *>(message);
        if (type != "xcb_generic_event_t" || (client->response_type & 0x7f) != XCB_CLIENT_MESSAGE
            || client->type != protocols || client->data.data32[0] != deleteWindow)
            return false;
        QString title = QStringLiteral("?");
        for (QWindow *window : QGuiApplication::allWindows())
            if (window->handle() && window->winId() == client->window)
                title = window->title();
        std::printf("close [%s]\n", title.toUtf8().constData());
        std::fflush(stdout);
        return swallow;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QCommandLineParser options;
    options.addOption({"title", "main window title", "title", "Tintarel"});
    options.addOption({"modal", "modal dialog title", "title"});
    options.addOption({"hidden", "never-mapped window title", "title"});
    options.addOption({"untitled", "an untitled window"});
    options.addOption({"ignore-close", "close requests do nothing"});
    options.process(app);

    xcb_connection_t *c = app.nativeInterface<QNativeInterface::QX11Application>()->connection();
    CloseRecorder recorder;
    recorder.protocols = atom(c, "WM_PROTOCOLS");
    recorder.deleteWindow = atom(c, "WM_DELETE_WINDOW");
    recorder.swallow = options.isSet("ignore-close");
    app.installNativeEventFilter(&recorder);

    // Closing the main window, the only one shown, ends the program.
    QWidget main;
    main.setWindowTitle(options.value("title"));
    main.setGeometry(100, 100, 200, 100);
    main.show();
    std::vector<std::unique_ptr<QWidget>> others;
    for (const QString &title : options.values("hidden")) {
        others.push_back(std::make_unique<QWidget>());
        others.back()->setWindowTitle(title);
        others.back()->winId();
    }
    if (options.isSet("untitled")) {
        others.push_back(std::make_unique<QWidget>());
        others.back()->show();
        // Qt would name it after the application.
        const auto id = xcb_window_t(others.back()->winId());
        xcb_delete_property(c, id, atom(c, "_NET_WM_NAME"));
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0, nullptr);
        xcb_flush(c);
    }
    QDialog dialog(&main);
    if (options.isSet("modal")) {
        dialog.setWindowTitle(options.value("modal"));
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.show();
    }
    return QApplication::exec();
}
