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

// The value's text, or what failed.
std::pair<long, QByteArray> queryText(reg::HKEY root, const std::string &path, const std::string &name)
{
    const auto registry = reg::makeSystemRegistry();
    reg::HKEY key = 0;
    std::uint32_t size = 0, type = 0;
    long code = registry->openKey(root, path, reg::KEY_ALL_ACCESS, &key);
    if (code == reg::ERROR_SUCCESS)
        code = registry->queryValue(key, name, &type, nullptr, &size);
    if (code != reg::ERROR_SUCCESS)
        return {code, {}};
    QByteArray data(int(size), '\0');
    code = registry->queryValue(key, name, &type, reinterpret_cast<std::uint8_t *>(data.data()), &size);
    return {code, type == reg::REG_SZ ? data.chopped(1) : QByteArray("not text")};
}

void writeFile(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size());
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
        QTest::addColumn<QStringList>("files");  // folder, text, folder, text...
        QTest::addColumn<QString>("desktop");    // $XDG_CURRENT_DESKTOP
        QTest::addColumn<QByteArray>("program"); // what the session starts; "-" for nothing

        const QString entry = QStringLiteral("[Desktop Entry]\nType=Application\nExec=%1\n");
        QTest::newRow("machine-wide, Exec of another group ignored")
            << QStringList{"system", entry.arg("/usr/bin/thing --quiet %U") + "[Desktop Action New]\nExec=/bin/false\n"}
            << "" << QByteArray("/usr/bin/thing");
        QTest::newRow("hidden by the user")
            << QStringList{"system", entry.arg("/a"), "home", "[Desktop Entry]\nHidden=true\n"} << "" << QByteArray("-");
        QTest::newRow("first machine folder first")
            << QStringList{"system2", entry.arg("/second"), "system", entry.arg("/first")} << "" << QByteArray("/first");
        QTest::newRow("switched off for GNOME")
            << QStringList{"system", entry.arg("/a") + "X-GNOME-Autostart-enabled=false\n"} << "GNOME" << QByteArray("-");
        QTest::newRow("only in another desktop")
            << QStringList{"system", entry.arg("/a") + "OnlyShowIn=KDE;XFCE;\n"} << "ubuntu:GNOME" << QByteArray("-");
        QTest::newRow("only in this desktop")
            << QStringList{"system", entry.arg("/a") + "OnlyShowIn=KDE;GNOME;\n"} << "ubuntu:GNOME" << QByteArray("/a");
        QTest::newRow("not in this desktop")
            << QStringList{"system", entry.arg("/a") + "NotShowIn=GNOME;\n"} << "GNOME" << QByteArray("-");
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
            else
                writeFile(files[i + 1].startsWith('<') ? QFileInfo(entry).absolutePath() : entry, files[i + 1].toUtf8());
        }
        qputenv("XDG_CONFIG_HOME", (root + QStringLiteral("/home")).toUtf8());
        qputenv("XDG_CONFIG_DIRS", (root + QStringLiteral("/system:relative:") + root + QStringLiteral("/system2")).toUtf8());
        qputenv("XDG_CURRENT_DESKTOP", desktop.toUtf8());
        const auto read = queryText(reg::HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "Tintarel");
        QCOMPARE(read.first, program == "-" ? reg::ERROR_FILE_NOT_FOUND : reg::ERROR_SUCCESS);
        QCOMPARE(read.second, program == "-" ? QByteArray() : program);
    }

    // The user's Xfce channel is read end to end by the panel's tests.
    void wallpaper_data()
    {
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<QStringList>("files"); // path, text, path, text...; {} is the test folder
        QTest::addColumn<QString>("expected");

        const QString keyfile = QStringLiteral("{}/home/glib-2.0/settings/keyfile");
        const QString gnome = QStringLiteral("[org/gnome/desktop/background]\npicture-uri='%1'\n");
        QTest::newRow("GNOME") << "GNOME" << QStringList{keyfile, gnome.arg("file://{}/Mon%20fond%20%C3%A9t%C3%A9.png")}
                               << "{}/Mon fond été.png";
        QTest::newRow("GNOME in the dark")
            << "ubuntu:GNOME"
            << QStringList{keyfile, gnome.arg("file:///light.png") + "picture-uri-dark='file:///dark.png'\n"
                                    "[org/gnome/desktop/interface]\ncolor-scheme='prefer-dark'\n"}
            << "/dark.png";
        QTest::newRow("GNOME slideshow of sizes")
            << "GNOME"
            << QStringList{keyfile, gnome.arg("file://{}/show.xml"), "{}/show.xml",
                           "<background><starttime><hour>8</hour></starttime><static><duration>60</duration><file>"
                           "<size width=\"1920\" height=\"1080\">\n  /first.jpg\n</size><size>/square.png</size>"
                           "</file></static><static><file>/second.jpg</file></static></background>"}
            << "/first.jpg";
        QTest::newRow("GNOME, not a local file") << "GNOME" << QStringList{keyfile, gnome.arg("https://example.org/x.png")}
                                                 << "";
        const QString plasma = QStringLiteral("{}/home/plasma-org.kde.plasma.desktop-appletsrc");
        QTest::newRow("Plasma image") << "KDE"
                                      << QStringList{plasma, "[Containments][1][General]\nImage=/not/this.png\n"
                                                             "[Containments][1][Wallpaper][org.kde.image][General]\n"
                                                             "Image=file:///M%20c.jpg\n"}
                                      << "/M c.jpg";
        const QString images = QStringLiteral("{}/Next/contents/images/");
        QTest::newRow("Plasma package")
            << "KDE"
            << QStringList{plasma, "[Containments][7][Wallpaper][org.kde.image][General]\nImage={}/Next/\n",
                           images + "1920x1080.png", "", images + "3840x2160.png", "", images + "800x600.png", ""}
            << images + "3840x2160.png";
        QTest::newRow("Xfce system default")
            << "XFCE"
            << QStringList{"{}/system/xfce4/xfconf/xfce-perchannel-xml/xfce4-desktop.xml",
                           "<channel name=\"xfce4-desktop\"><property name=\"backdrop\"><property name=\"color-style\" "
                           "type=\"int\" value=\"0\"/><property name=\"last-image\" type=\"string\" value=\"/d.svg\"/>"
                           "</property></channel>"}
            << "/d.svg";
    }

    // Read in a child process: GSettings keeps what it has read for the
    // life of the process, so each desktop's case needs a fresh one.
    void wallpaper()
    {
        QFETCH(QString, desktop);
        QFETCH(QStringList, files);
        QFETCH(QString, expected);
        if (desktop.contains(QLatin1String("GNOME"))) {
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
        environment.remove(QStringLiteral("DESKTOP_SESSION"));
        for (const auto &[name, value] : {std::pair{"XDG_CURRENT_DESKTOP", desktop}, {"XDG_CONFIG_HOME", root + "/home"},
                                          {"XDG_CONFIG_DIRS", root + "/system"}, {"XDG_DATA_HOME", root + "/data"},
                                          {"GSETTINGS_BACKEND", QStringLiteral("keyfile")}})
            environment.insert(QLatin1String(name), value);
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
    if (argc == 2 && qstrcmp(argv[1], "--print-wallpaper") == 0) {
        const auto wallpaper = queryText(reg::HKEY_CURRENT_USER, "Control Panel\\Desktop", "Wallpaper");
        std::fwrite(wallpaper.second.constData(), 1, std::size_t(wallpaper.second.size()), stdout);
        return wallpaper.first == reg::ERROR_SUCCESS ? 0 : 1;
    }
    QCoreApplication application(argc, argv);
    tst_Registry test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_registry.moc"
