#include "OwnDisplayMain.h"
#include "WindowList.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>
#include <QtTest>

#include <xcb/xcb.h>

#include <unistd.h>

using namespace win;

// Windows made by hand on a connection of the test's own, with the
// properties a toolkit or a window manager would give them.
class HandMadeWindows
{
public:
    explicit HandMadeWindows(const QString &display)
        : c(xcb_connect(display.toLatin1().constData(), nullptr))
    {
        root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    }
    ~HandMadeWindows() { xcb_disconnect(c); }

    xcb_atom_t atom(const char *name)
    {
        auto *reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t a = reply->atom;
        free(reply);
        return a;
    }
    HWND create(QRect geometry, bool withPid = true, xcb_window_t parent = 0, bool mapped = true)
    {
        const xcb_window_t w = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, parent ? parent : root, int16_t(geometry.x()),
                          int16_t(geometry.y()), uint16_t(geometry.width()), uint16_t(geometry.height()), 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        if (withPid)
            set(w, "_NET_WM_PID", XCB_ATOM_CARDINAL, {uint32_t(::getpid())});
        if (mapped)
            xcb_map_window(c, w);
        made.push_back(w);
        sync();
        return w;
    }
    void set(xcb_window_t w, const char *name, xcb_atom_t type, const std::vector<uint32_t> &values)
    {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atom(name), type, 32, uint32_t(values.size()),
                            values.data());
    }
    void setText(xcb_window_t w, xcb_atom_t property, xcb_atom_t type, const QByteArray &text)
    {
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, property, type, 8, uint32_t(text.size()), text.constData());
        sync();
    }
    void sync() { free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); }
    std::vector<xcb_window_t> rootChildren()
    {
        auto *tree = xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr);
        std::vector<xcb_window_t> children(xcb_query_tree_children(tree),
                                           xcb_query_tree_children(tree) + xcb_query_tree_children_length(tree));
        free(tree);
        return children;
    }
    // The close requests received so far, by window.
    std::vector<xcb_window_t> closeRequests()
    {
        while (xcb_generic_event_t *event = xcb_poll_for_event(c)) {
            const auto *message = reinterpret_cast<xcb_client_message_event_t *>(event);
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE && message->type == atom("WM_PROTOCOLS")
                && message->data.data32[0] == atom("WM_DELETE_WINDOW"))
                requests.push_back(message->window);
            free(event);
        }
        return requests;
    }
    void destroyAll()
    {
        for (xcb_window_t w : made)
            xcb_destroy_window(c, w);
        made.clear();
        xcb_delete_property(c, root, atom("_NET_CLIENT_LIST"));
        sync();
    }

    xcb_connection_t *c;
    xcb_window_t root = 0;
    std::vector<xcb_window_t> made;
    std::vector<xcb_window_t> requests;
};

// The X11 window list, through the application's own connection, on windows
// of a display of the test's own.
class tst_WindowList : public QObject
{
    Q_OBJECT

public:
    explicit tst_WindowList(const QString &display)
        : x(display)
    {
    }

private:
    HandMadeWindows x;
    std::unique_ptr<WindowList> list = makeSystemWindowList();

    std::vector<HWND> windowsOf(std::uint32_t pid)
    {
        std::vector<HWND> seen;
        list->enumThreadWindows(pid, [&](HWND w, LPARAM lParam) { return seen.push_back(w), lParam == 7; }, 7);
        return seen;
    }
    QByteArray title(HWND w)
    {
        std::vector<char> buffer(std::size_t(list->windowTextLength(w)) + 1);
        return QByteArray(buffer.data(), list->windowText(w, buffer.data(), int(buffer.size())));
    }

private Q_SLOTS:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral("XCB error"))); }
    void cleanup()
    {
        x.destroyAll();
        // Let an X error, had one reached Qt, be reported as a warning.
        auto *qt = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
        free(xcb_get_input_focus_reply(qt, xcb_get_input_focus(qt), nullptr));
        QCoreApplication::processEvents();
    }

    void titles_data()
    {
        QTest::addColumn<QByteArray>("netName");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("title");
        QTest::newRow("UTF-8 name") << QByteArray("Réglage ♪") << QByteArray("R\xe9glage")
                                    << QByteArray("Réglage ♪");
        QTest::newRow("Latin-1 name only") << QByteArray() << QByteArray("R\xe9glage") << QByteArray("Réglage");
        QTest::newRow("empty UTF-8 name") << QByteArray("") << QByteArray("Tintarel") << QByteArray("Tintarel");
        QTest::newRow("untitled") << QByteArray() << QByteArray() << QByteArray();
    }
    void titles()
    {
        QFETCH(QByteArray, netName);
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, title);
        const HWND w = x.create({10, 10, 50, 20});
        if (!netName.isNull())
            x.setText(w, x.atom("_NET_WM_NAME"), x.atom("UTF8_STRING"), netName);
        if (!name.isNull())
            x.setText(w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, name);
        QCOMPARE(list->windowTextLength(w), int(title.size()));
        QCOMPARE(this->title(w), title);
        char cut[4];
        QCOMPARE(list->windowText(w, cut, 4), int(std::min<qsizetype>(3, title.size())));
        QCOMPARE(QByteArray(cut), title.left(3));
    }

    void windowsOfAProcessFromRootAndWindowManager()
    {
        const HWND neverMapped = x.create({0, 0, 10, 10}, true, 0, false);
        const HWND mapped = x.create({0, 0, 10, 10});
        const HWND withoutPid = x.create({0, 0, 10, 10}, false);
        const HWND otherMachine = x.create({0, 0, 10, 10});
        x.setText(otherMachine, XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, "elsewhere.example");
        const HWND frame = x.create({200, 100, 300, 200}, false);
        const HWND managed = x.create({5, 20, 100, 50}, true, frame);
        x.set(x.root, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW, {mapped, managed});
        x.sync();
        QCOMPARE(windowsOf(::getpid()), (std::vector<HWND> {neverMapped, mapped, managed}));
        QVERIFY(!list->enumThreadWindows(::getpid() + 100000, [](HWND, LPARAM) { return true; }, 0));
        Q_UNUSED(withoutPid);

        std::vector<HWND> visited;
        list->enumThreadWindows(::getpid(), [&](HWND w, LPARAM) { return visited.push_back(w), false; }, 0);
        QCOMPARE(visited.size(), 1u);

        RECT rect;
        QVERIFY(list->windowRect(managed, &rect));
        QCOMPARE(QRect(QPoint(rect.left, rect.top), QPoint(rect.right - 1, rect.bottom - 1)), QRect(205, 120, 100, 50));
        // Sent back where it is, it stays there, inside its frame.
        QVERIFY(list->setWindowPos(managed, HWND_BOTTOM, rect.left, rect.top, 100, 50, SWP_NOREDRAW));
        RECT after;
        QVERIFY(list->windowRect(managed, &after));
        QCOMPARE(after.left, 205);
        QCOMPARE(after.top, 120);
    }

    void modalWindowBlocks_data()
    {
        QTest::addColumn<bool>("modal");
        QTest::addColumn<bool>("mapped");
        QTest::addColumn<QString>("transientFor");
        QTest::addColumn<bool>("mainBlocked");
        QTest::addColumn<bool>("otherBlocked");
        QTest::newRow("modal for the main window") << true << true << "main" << true << false;
        QTest::newRow("modal, transient for nothing") << true << true << "" << true << true;
        QTest::newRow("modal for the group leader") << true << true << "leader" << true << true;
        QTest::newRow("modal for the root") << true << true << "root" << true << true;
        QTest::newRow("not modal") << false << true << "main" << false << false;
        QTest::newRow("modal, not shown") << true << false << "" << false << false;
    }
    void modalWindowBlocks()
    {
        QFETCH(bool, modal);
        QFETCH(bool, mapped);
        QFETCH(QString, transientFor);
        QFETCH(bool, mainBlocked);
        QFETCH(bool, otherBlocked);
        const HWND leader = x.create({0, 0, 1, 1}, false, 0, false);
        const HWND main = x.create({10, 10, 100, 50});
        const HWND other = x.create({200, 10, 100, 50});
        const HWND dialog = x.create({20, 20, 60, 30}, true, 0, false);
        const std::map<QString, HWND> owners {{"main", main}, {"leader", leader}, {"root", x.root}};
        if (!transientFor.isEmpty())
            x.set(dialog, "WM_TRANSIENT_FOR", XCB_ATOM_WINDOW, {owners.at(transientFor)});
        if (modal)
            x.set(dialog, "_NET_WM_STATE", XCB_ATOM_ATOM, {x.atom("_NET_WM_STATE_MODAL")});
        if (mapped)
            xcb_map_window(x.c, dialog);
        x.sync();

        QCOMPARE(list->isWindowEnabled(main), !mainBlocked);
        QCOMPARE(list->lastActivePopup(main), mainBlocked ? dialog : main);
        QCOMPARE(list->isWindowEnabled(other), !otherBlocked);
        QCOMPARE(list->lastActivePopup(other), otherBlocked ? dialog : other);
        QVERIFY(list->isWindowEnabled(dialog));
        QCOMPARE(list->lastActivePopup(dialog), dialog);
    }

    void laterModalWindowBlocksEarlierOne()
    {
        const HWND main = x.create({10, 10, 100, 50});
        const auto modalForProcess = [&] {
            const HWND dialog = x.create({20, 20, 60, 30}, true, 0, false);
            x.set(dialog, "_NET_WM_STATE", XCB_ATOM_ATOM, {x.atom("_NET_WM_STATE_MODAL")});
            xcb_map_window(x.c, dialog);
            x.sync();
            return dialog;
        };
        const HWND first = modalForProcess();
        const HWND second = modalForProcess();
        QCOMPARE(list->lastActivePopup(main), second);
        QCOMPARE(list->lastActivePopup(first), second);
        QVERIFY(!list->isWindowEnabled(first));
        QVERIFY(list->isWindowEnabled(second));
    }

    void restackCloseAndEnd()
    {
        const HWND w = x.create({30, 40, 120, 50});
        const HWND above = x.create({60, 60, 50, 50});
        RECT rect;
        QVERIFY(list->windowRect(w, &rect));
        QCOMPARE(QRect(QPoint(rect.left, rect.top), QPoint(rect.right - 1, rect.bottom - 1)), QRect(30, 40, 120, 50));
        QVERIFY(!list->setWindowPos(w, above, 30, 40, 120, 50, 0));
        QVERIFY(list->setWindowPos(w, HWND_BOTTOM, 30, 40, 120, 50, SWP_NOREDRAW));
        QCOMPARE(x.rootChildren().front(), w);
        QVERIFY(list->windowRect(w, &rect));
        QCOMPARE(rect.left, 30);
        QCOMPARE(rect.bottom, 90);

        QVERIFY(!list->postMessage(w, 0x0012, 0, 0));
        QVERIFY(list->postMessage(w, WM_CLOSE, 1, 1));
        QTRY_COMPARE(x.closeRequests(), std::vector<xcb_window_t> {w});

        QVERIFY(list->isWindow(w));
        xcb_destroy_window(x.c, w);
        x.sync();
        QVERIFY(!list->isWindow(w));
        QVERIFY(!list->postMessage(w, WM_CLOSE, 1, 1));
        QVERIFY(!list->windowRect(w, &rect));
        QVERIFY(!list->setWindowPos(w, HWND_BOTTOM, 30, 40, 120, 50, 0));
        QCOMPARE(list->windowTextLength(w), 0);
        QCOMPARE(list->lastActivePopup(w), HWND(0));
    }
};

// The list is made from the application's X connection, so the display is
// started before the application connects to it.
int main(int argc, char *argv[])
{
    return runOnOwnDisplay<QGuiApplication, tst_WindowList>(argc, argv);
}

#include "tst_windowlist.moc"
