#include "DesktopPicture.h"
#include "MiniClock.h"
#include "PanelFakes.h"
#include "ScreenPicture.h"
#include "SystemColours.h"

#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

namespace {

// The places a wallpaper is looked up, in their order.
const QString firstKey = QStringLiteral("USER\\Control Panel\\Desktop|Wallpaper");
const QString secondKey = QStringLiteral("Software\\Microsoft\\Internet Explorer\\Desktop\\General|Wallpaper");
const QString thirdKey = QStringLiteral("Control Panel\\Desktop|Wallpaper");
const QString fourthKey = QStringLiteral("Control Panel\\Desktop|ConvertedWallpaper");

using Values = QMap<QString, QString>;

} // namespace

// The picture of the screen on a 4:3 screen of 1024 × 768 pixels.
class tst_DesktopPicture : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DialogHarness> h;
    QTemporaryDir m_files;

    QString file(const QString &name) const { return m_files.path() + QLatin1Char('/') + name; }

    // Red left eighth, blue right eighth, green between.
    QString image(const QString &name, QSize size)
    {
        QImage picture(size, QImage::Format_RGB32);
        picture.fill(Qt::green);
        QPainter painter(&picture);
        painter.fillRect(0, 0, size.width() / 8, size.height(), Qt::red);
        painter.fillRect(size.width() - size.width() / 8, 0, size.width() / 8, size.height(), Qt::blue);
        painter.end();
        const QString path = file(name);
        if (!picture.save(path))
            qWarning("cannot write %s", qPrintable(path));
        return path;
    }

    frmConfig &openWithWallpaper(const QString &path, const QString &key = thirdKey)
    {
        h->library.userValues[key] = path;
        return h->open();
    }

private Q_SLOTS:
    void init() { h = std::make_unique<DialogHarness>(); }
    void cleanup() { h.reset(); }

    void wallpaperLookups_data()
    {
        QTest::addColumn<Values>("values");
        QTest::addColumn<QStringList>("lookups");
        QTest::addColumn<bool>("drawn");

        const QString path = QStringLiteral("%1");
        const QStringList all{firstKey, secondKey, thirdKey, fourthKey};
        QTest::newRow("none present") << Values() << all << false;
        QTest::newRow("the first place") << Values{{firstKey, path}} << all.mid(0, 1) << true;
        QTest::newRow("three characters are not a path")
            << Values{{firstKey, QStringLiteral("C:\\")}, {secondKey, path}} << all.mid(0, 2) << true;
        QTest::newRow("four characters are")
            << Values{{firstKey, QStringLiteral("/a.b")}, {secondKey, path}} << all.mid(0, 1) << false;
        QTest::newRow("the converted wallpaper last")
            << Values{{firstKey, QStringLiteral("x")}, {thirdKey, QString()}, {fourthKey, path}} << all << true;
    }

    void wallpaperLookups()
    {
        QFETCH(Values, values);
        QFETCH(QStringList, lookups);
        QFETCH(bool, drawn);
        const QString picture = image(QStringLiteral("lookup.png"), QSize(64, 48));
        for (auto it = values.begin(); it != values.end(); ++it)
            h->library.userValues[it.key()] = QString(it.value()).replace(QStringLiteral("%1"), picture);
        frmConfig &form = h->open();
        QCOMPARE(h->library.userLookups, lookups);
        QCOMPARE(!form.picScreen->canvas().isNull(), drawn);
        QCOMPARE(form.timSimul->isActive(), drawn);
        if (lookups.size() == 4 && !drawn) {
            // No wallpaper: the box keeps its design size, 2048 × 1536 twips at 4440.
            QCOMPARE(form.picScreen->geometry(), QRect(296, 24, 137, 102));
            QCOMPARE(form.lblHorloge->text(), QStringLiteral("00:00:00"));
            QVERIFY(h->messages.texts.isEmpty());
        }
    }

    void pictureCoversTheBoxCentred_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QRectF>("drawn");
        // The box takes the screen's 4:3: 1530 ÷ 11520 × 15360 = 2040 twips,
        // 136 pixels, a drawing area of 132 × 98.
        QTest::newRow("16:9, full height, cut left and right")
            << QSize(320, 180) << QRectF(-(174.2222f - 132) / 2, 0, 174.2222f, 98);
        QTest::newRow("exactly 4:3, full width") << QSize(400, 300) << QRectF(0, -0.5, 132, 99);
        QTest::newRow("taller, full width, cut top and bottom") << QSize(300, 400) << QRectF(0, -39, 132, 176);
    }

    void pictureCoversTheBoxCentred()
    {
        QFETCH(QSize, size);
        QFETCH(QRectF, drawn);
        frmConfig &form = openWithWallpaper(image(QStringLiteral("cover.png"), size));
        QCOMPARE(h->messages.texts, QStringList());
        // 300 twips between the box and the frame's right edge: 7215 - 2040 - 300.
        QCOMPARE(form.picScreen->geometry(), QRect(325, 24, 136, 102));
        QCOMPARE(form.picScreen->drawingArea().size(), QSize(132, 98));
        const QRectF result = form.drawnPicture();
        for (const auto &[got, expected] : {std::pair{result.x(), drawn.x()}, {result.y(), drawn.y()},
                                            {result.width(), drawn.width()}, {result.height(), drawn.height()}})
            QVERIFY2(qAbs(got - expected) < 1e-3, qPrintable(QString::number(got)));
        const QImage canvas = form.picScreen->canvas();
        QCOMPARE(canvas.size(), QSize(132, 98));
        // Every pixel drawn, and what is cut off is cut equally on both sides.
        QCOMPARE(canvas.pixelColor(0, 0).alpha(), 255);
        QCOMPARE(canvas.pixelColor(131, 97).alpha(), 255);
        const QColor left = canvas.pixelColor(0, 49);
        const QColor right = canvas.pixelColor(131, 49);
        QVERIFY(qAbs(left.red() - right.blue()) <= 40);
        QVERIFY(qAbs(left.green() - right.green()) <= 40);
        QVERIFY(form.timSimul->isActive());
        QTRY_VERIFY(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$")).match(form.lblHorloge->text()).hasMatch()
                    && form.lblHorloge->text() != QStringLiteral("00:00:00"));
    }

    void aMissingFileIsToldAndTheLoadGoesOn()
    {
        const QString missing = file(QStringLiteral("parti.jpg"));
        h->store.set({"Réglages/StartPos=1", "Position/Left=7680", "Position/Top=5760"});
        frmConfig &form = openWithWallpaper(missing);
        QCOMPARE(h->messages.texts.size(), 1);
        const QString message = h->messages.texts[0];
        QVERIFY2(!message.startsWith(QStringLiteral("Survenue")) && message.contains(missing), qPrintable(message));
        // The box took the screen's proportions and stays empty, with no preview clock.
        QCOMPARE(form.picScreen->width(), 136);
        QVERIFY(form.picScreen->canvas().isNull());
        QVERIFY(!form.timSimul->isActive());
        // The load went on: the mini clock in the middle of the box, the help file set.
        QCOMPARE(form.picHor->pos() - form.picScreen->drawingArea().topLeft(), QPoint(66, 49));
        QVERIFY(!form.helpFile().isEmpty());
    }

    void unreadableImagesEndTheLoad_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("text") << QByteArray("ceci n'est pas une image\n");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("truncated PNG") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0", 18);
    }

    void unreadableImagesEndTheLoad()
    {
        QFETCH(QByteArray, content);
        const QString path = file(QStringLiteral("image.png"));
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(content) == content.size());
        out.close();
        frmConfig &form = openWithWallpaper(path);
        QCOMPARE(h->messages.texts.size(), 1);
        QVERIFY2(h->messages.texts[0].startsWith(QStringLiteral("Survenue d'une erreur : ")),
                 qPrintable(h->messages.texts[0]));
        QVERIFY(form.helpFile().isEmpty());
        QVERIFY(!form.timSimul->isActive());
    }

    void theDialogShowsTheDesktopBetweenItsFrames_data()
    {
        QTest::addColumn<bool>("wallpaper");
        QTest::newRow("wallpaper") << true;
        QTest::newRow("no wallpaper") << false;
    }

    void theDialogShowsTheDesktopBetweenItsFrames()
    {
        QFETCH(bool, wallpaper);
        QImage picture(QSize(320, 240), QImage::Format_RGB32);
        picture.fill(QColor(30, 120, 200));
        const QString path = file(QStringLiteral("bureau.png"));
        QVERIFY(picture.save(path));
        frmConfig &form = wallpaper ? openWithWallpaper(path) : h->open();
        const QImage shown = form.grab().toImage();
        // Between "Démarrage" and "Carillons", and inside a frame.
        const QPoint gap(100, form.fraCarillons->y() - 3);
        QCOMPARE(form.childAt(gap), nullptr);
        const QColor expected = wallpaper ? QColor(30, 120, 200) : colourFromValue(0x80000001, form.palette());
        QCOMPARE(shown.pixelColor(gap).rgb(), expected.rgb());
        // The frames are opaque: the desktop does not show inside them.
        const QPoint inFrame = form.fraVisibilité->mapTo(&form, QPoint(form.fraVisibilité->width() - 6, 60));
        QCOMPARE(form.childAt(inFrame), form.fraVisibilité);
        const QColor frame = shown.pixelColor(inFrame);
        QVERIFY(frame.rgb() != expected.rgb());
        QVERIFY(frame.red() == frame.green() && frame.green() == frame.blue() && frame.red() > 200);
    }
};

int main(int argc, char **argv)
{
    return runPanelTest<tst_DesktopPicture>(argc, argv, "1024x768x24");
}

#include "tst_desktoppicture.moc"
