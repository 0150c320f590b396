#include "Registry.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <sys/stat.h>

namespace {

const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string desktop = "Control Panel\\Desktop";

struct Read
{
    long code;
    std::uint32_t type;
    QByteArray text;
};

Read queryText(reg::Registry &registry, reg::HKEY key, const std::string &name)
{
    std::uint32_t size = 0, type = 0;
    long code = registry.queryValue(key, name, &type, nullptr, &size);
    if (code != reg::ERROR_SUCCESS)
        return {code, type, {}};
    QByteArray data(int(size), '\0');
    code = registry.queryValue(key, name, &type, reinterpret_cast<std::uint8_t *>(data.data()), &size);
    data.chop(1);
    return {code, type, data};
}

void writeFile(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size());
}

// Run in a child process: GSettings keeps what it has read for the life of
// the process, so each desktop's case needs a fresh one.
int printWallpaper()
{
    const auto registry = reg::makeSystemRegistry();
    reg::HKEY key = 0;
    if (registry->openKey(reg::HKEY_CURRENT_USER, desktop, reg::KEY_ALL_ACCESS, &key) != reg::ERROR_SUCCESS)
        return 2;
    const Read wallpaper = queryText(*registry, key, "Wallpaper");
    std::fwrite(wallpaper.text.constData(), 1, std::size_t(wallpaper.text.size()), stdout);
    return wallpaper.code == reg::ERROR_SUCCESS ? 0 : 1;
}

} // namespace

class tst_Registry : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;

private Q_SLOTS:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void startedEntries_data()
    {
        QTest::addColumn<QStringList>("files"); // folder, text, folder, text...
        QTest::addColumn<QString>("desktop");   // $XDG_CURRENT_DESKTOP
        QTest::addColumn<QByteArray>("program"); // what the session starts; "-" for nothing

        const QString entry = QStringLiteral("[Desktop Entry]\nType=Application\nExec=%1\n");
        QTest::newRow("machine-wide, Exec of another group ignored")
            << QStringList{"system", entry.arg("/usr/bin/thing --quiet %U") + "[Desktop Action New]\nExec=/bin/false\n"}
            << "" << QByteArray("/usr/bin/thing");
        QTest::newRow("the user's overrides the machine's, escaped as the rules ask")
            << QStringList{"system", entry.arg("/a"), "home", entry.arg("\"/opt/my app/\\\\$5/run\" -x")} << ""
            << QByteArray("/opt/my app/$5/run");
        QTest::newRow("hidden by the user") << QStringList{"system", entry.arg("/a"), "home", "[Desktop Entry]\nHidden=true\n"}
                                            << "" << QByteArray("-");
        QTest::newRow("first machine folder first")
            << QStringList{"system2", entry.arg("/second"), "system", entry.arg("/first")} << "" << QByteArray("/first");
        QTest::newRow("switched off for GNOME") << QStringList{"system", entry.arg("/a") + "X-GNOME-Autostart-enabled=false\n"}
                                                << "GNOME" << QByteArray("-");
        QTest::newRow("only in another desktop") << QStringList{"system", entry.arg("/a") + "OnlyShowIn=KDE;XFCE;\n"}
                                                 << "ubuntu:GNOME" << QByteArray("-");
        QTest::newRow("only in this desktop") << QStringList{"system", entry.arg("/a") + "OnlyShowIn=KDE;GNOME;\n"}
                                              << "ubuntu:GNOME" << QByteArray("/a");
        QTest::newRow("not in this desktop") << QStringList{"system", entry.arg("/a") + "NotShowIn=GNOME;\n"} << "GNOME"
                                             << QByteArray("-");
        QTest::newRow("entry is a FIFO") << QStringList{"system", "<fifo>"} << "" << QByteArray("-");
        QTest::newRow("autostart is a file") << QStringList{"system", "<autostart is a file>"} << "" << QByteArray("-");
    }

    // What the session starts for this user, by the freedesktop rules.
    void startedEntries()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, desktop);
        QFETCH(QByteArray, program);
        const QString root = m_dir->path();
        for (int i = 0; i + 1 < files.size(); i += 2) {
            const QString entry = root + "/" + files[i] + "/autostart/Tintarel.desktop";
            if (files[i + 1] == QLatin1String("<fifo>"))
                QVERIFY(QDir().mkpath(QFileInfo(entry).absolutePath()) && ::mkfifo(QFile::encodeName(entry), 0644) == 0);
            else if (files[i + 1] == QLatin1String("<autostart is a file>"))
                writeFile(QFileInfo(entry).absolutePath(), "x");
            else
                writeFile(entry, files[i + 1].toUtf8());
        }
        qputenv("XDG_CONFIG_HOME", (root + QStringLiteral("/home")).toUtf8());
        qputenv("XDG_CONFIG_DIRS", (root + QStringLiteral("/system:relative:") + root + QStringLiteral("/system2")).toUtf8());
        qputenv("XDG_CURRENT_DESKTOP", desktop.toUtf8());
        const auto registry = reg::makeSystemRegistry();
        reg::HKEY key = 0;
        QCOMPARE(registry->openKey(reg::HKEY_LOCAL_MACHINE, run, reg::KEY_ALL_ACCESS, &key), reg::ERROR_SUCCESS);
        const Read read = queryText(*registry, key, "Tintarel");
        QCOMPARE(read.code, program == "-" ? reg::ERROR_FILE_NOT_FOUND : reg::ERROR_SUCCESS);
        QCOMPARE(read.text, program == "-" ? QByteArray() : program);
    }

    void wallpaper_data()
    {
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<QStringList>("files");    // path, text, path, text...; {} is the test folder
        QTest::addColumn<QString>("expected");

        const QString keyfile = QStringLiteral("{}/home/glib-2.0/settings/keyfile");
        QTest::newRow("GNOME") << "GNOME"
                               << QStringList{keyfile, "[org/gnome/desktop/background]\n"
                                                       "picture-uri='file://{}/Mon%20fond%20%C3%A9t%C3%A9.png'\n"}
                               << "{}/Mon fond été.png";
        QTest::newRow("GNOME in the dark")
            << "ubuntu:GNOME"
            << QStringList{keyfile, "[org/gnome/desktop/background]\npicture-uri='file:///light.png'\n"
                                    "picture-uri-dark='file:///dark.png'\n[org/gnome/desktop/interface]\n"
                                    "color-scheme='prefer-dark'\n"}
            << "/dark.png";
        QTest::newRow("GNOME slideshow of sizes")
            << "GNOME"
            << QStringList{keyfile, "[org/gnome/desktop/background]\npicture-uri='file://{}/show.xml'\n", "{}/show.xml",
                           "<background><starttime><hour>8</hour></starttime><static><duration>60</duration><file>"
                           "<size width=\"1920\" height=\"1080\">\n  /first.jpg\n</size>"
                           "<size width=\"1024\" height=\"768\">/square.png</size></file></static>"
                           "<transition><duration>5</duration><from>/first.jpg</from><to>/second.jpg</to></transition>"
                           "<static><duration>60</duration><file>/second.jpg</file></static></background>"}
            << "/first.jpg";
        QTest::newRow("GNOME, not a local file")
            << "GNOME" << QStringList{keyfile, "[org/gnome/desktop/background]\npicture-uri='https://example.org/x.png'\n"}
            << "";
        const QString plasma = QStringLiteral("{}/home/plasma-org.kde.plasma.desktop-appletsrc");
        QTest::newRow("Plasma image") << "KDE"
                                      << QStringList{plasma, "[Containments][1][General]\nImage=/not/this.png\n"
                                                             "[Containments][1][Wallpaper][org.kde.image][General]\n"
                                                             "Image=file:///M%20c.jpg\n"}
                                      << "/M c.jpg";
        QTest::newRow("Plasma package")
            << "KDE"
            << QStringList{plasma, "[Containments][7][Wallpaper][org.kde.image][General]\nImage={}/Next/\n",
                           "{}/Next/contents/images/1920x1080.png", "", "{}/Next/contents/images/3840x2160.png", "",
                           "{}/Next/contents/images/800x600.png", ""}
            << "{}/Next/contents/images/3840x2160.png";
        const QString channel = QStringLiteral("/xfce4/xfconf/xfce-perchannel-xml/xfce4-desktop.xml");
        const QString xfceDesktop = QStringLiteral("<channel name=\"xfce4-desktop\"><property name=\"backdrop\">"
                                                   "<property name=\"color-style\" type=\"int\" value=\"0\"/><property "
                                                   "name=\"last-image\" type=\"string\" value=\"%1\"/></property></channel>");
        QTest::newRow("Xfce") << "XFCE" << QStringList{"{}/home" + channel, xfceDesktop.arg("/v.png")} << "/v.png";
        QTest::newRow("Xfce system default") << "XFCE" << QStringList{"{}/system" + channel, xfceDesktop.arg("/d.svg")}
                                             << "/d.svg";
    }

    void wallpaper()
    {
        QFETCH(QString, desktop);
        QFETCH(QStringList, files);
        QFETCH(QString, expected);
        if (desktop.contains(QLatin1String("GNOME"))) { // read through GSettings
#ifndef TINTAREL_REGISTRY_READS_GSETTINGS
            QSKIP("built without GSettings");
#endif
            const QString schema = QStringLiteral("glib-2.0/schemas/org.gnome.desktop.background.gschema.xml");
            if (QStandardPaths::locate(QStandardPaths::GenericDataLocation, schema).isEmpty())
                QSKIP("the GNOME desktop schemas are not installed");
        }
        const QString root = m_dir->path();
        for (int i = 0; i + 1 < files.size(); i += 2)
            writeFile(QString(files[i]).replace(QStringLiteral("{}"), root),
                      QString(files[i + 1]).replace(QStringLiteral("{}"), root).toUtf8());

        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), desktop);
        environment.remove(QStringLiteral("DESKTOP_SESSION"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("/home"));
        environment.insert(QStringLiteral("XDG_CONFIG_DIRS"), root + QStringLiteral("/system"));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), root + QStringLiteral("/data"));
        environment.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("keyfile"));
        QProcess child;
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--print-wallpaper")});
        QVERIFY(child.waitForFinished());
        QVERIFY2(child.exitCode() == 0, child.readAllStandardError().constData());
        QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()), QString(expected).replace(QStringLiteral("{}"), root));
    }
};

int main(int argc, char **argv)
{
    if (argc == 2 && qstrcmp(argv[1], "--print-wallpaper") == 0)
        return printWallpaper();
    QCoreApplication application(argc, argv);
    tst_Registry test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_registry.moc"
