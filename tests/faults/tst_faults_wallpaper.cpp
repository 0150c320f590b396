#include "TestDisplay.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QtTest>

#include <sys/stat.h>

// The built configuration program drawing a desktop whose wallpaper is a
// folder, a FIFO or a cut picture: it tells, shows its dialog all the same,
// and closes normally. The wallpaper is named as an Xfce desktop does.
class tst_FaultsWallpaper : public QObject
{
    Q_OBJECT

private:
    const QString m_panel = QStringLiteral(TINTAREL_PROGRAM_DIR "/TintarelPanel");
    const QString m_dialogTitle = QStringLiteral("Configuration de l'horloge à carillon");
    const QString m_boxTitle = QStringLiteral("TintarelPanel");
    TestDisplay m_display;

    enum Kind { Folder, Fifo, CutPicture };

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFileInfo::exists(m_panel), "the configuration program is not built");
        QVERIFY(m_display.start());
    }

    void badWallpaper_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("noPicture");
        QTest::newRow("folder") << "wallpaper.png" << int(Folder) << false;
        QTest::newRow("FIFO") << "wallpaper.png" << int(Fifo) << false;
        QTest::newRow("cut PNG") << "wallpaper.png" << int(CutPicture) << false;
        // A GNOME-style slideshow is read as XML before any picture.
        QTest::newRow("FIFO slideshow") << "slideshow.xml" << int(Fifo) << true;
    }

    void badWallpaper()
    {
        QFETCH(QString, name);
        QFETCH(int, kind);
        QFETCH(bool, noPicture);
        TestHome home;
        // No chimes and no face: closing the dialog asks nothing.
        home.writeSettings("[R%E9glages]\nCarillons=0\nVisibilit%E9=0\n");
        const QString wallpaper = home.path() + QLatin1Char('/') + name;
        if (kind == Folder) {
            QVERIFY(QDir().mkdir(wallpaper));
        } else if (kind == Fifo) {
            QVERIFY(::mkfifo(QFile::encodeName(wallpaper).constData(), 0644) == 0);
        } else {
            QFile file(wallpaper);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QImage picture(640, 480, QImage::Format_RGB32);
            picture.fill(Qt::darkCyan);
            QBuffer png;
            QVERIFY(png.open(QIODevice::WriteOnly) && picture.save(&png, "PNG"));
            file.write(png.data().left(png.data().size() / 2));
        }
        const QString channel = home.configHome() + QStringLiteral("/xfce4/xfconf/xfce-perchannel-xml");
        QVERIFY(QDir().mkpath(channel));
        QFile desktop(channel + QStringLiteral("/xfce4-desktop.xml"));
        QVERIFY(desktop.open(QIODevice::WriteOnly));
        desktop.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<channel name=\"xfce4-desktop\" version=\"1.0\">\n"
                      "  <property name=\"last-image\" type=\"string\" value=\"" + QFile::encodeName(wallpaper)
                      + "\"/>\n</channel>\n");
        desktop.close();

        TestProgram panel;
        QProcessEnvironment env = home.environment(m_display.name());
        env.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("XFCE"));
        panel.setProcessEnvironment(env);
        panel.setProcessChannelMode(QProcess::ForwardedChannels);
        panel.start(m_panel, {});
        QVERIFY(panel.waitForStarted(10000));
        DisplayObserver observer(m_display.name());

        // The message comes before the dialog shows; a slideshow that cannot
        // be read names no picture at all, so there is nothing to tell.
        if (!noPicture) {
            QTRY_VERIFY_WITH_TIMEOUT(observer.titledWindowOf(panel.processId(), m_boxTitle, true), 20000);
            observer.requestClose(observer.titledWindowOf(panel.processId(), m_boxTitle, true)->id);
        }
        QTRY_VERIFY_WITH_TIMEOUT(observer.titledWindowOf(panel.processId(), m_dialogTitle, true), 20000);
        observer.requestClose(observer.titledWindowOf(panel.processId(), m_dialogTitle, true)->id);
        QVERIFY(panel.waitForFinished(20000));
        QCOMPARE(panel.exitStatus(), QProcess::NormalExit);
        QCOMPARE(panel.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_FaultsWallpaper)
#include "tst_faults_wallpaper.moc"
