#include "MiniClock.h"
#include "PanelFakes.h"
#include "ScreenPicture.h"
#include "UpDown.h"

#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QtTest>

// The start-position editor on a 1024 × 768 screen at 15 twips to the pixel:
// the screen is 15360 × 11520 twips, and the picture box's drawing area
// 133 × 98 pixels, 1995 × 1470 twips.
class tst_PositionEditor : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DialogHarness> h;

    frmConfig &openInMode(int mode, int left = 1500, int top = 750)
    {
        h->store.set({QStringLiteral("Réglages/StartPos=%1").arg(mode), QStringLiteral("Position/Left=%1").arg(left),
                      QStringLiteral("Position/Top=%1").arg(top)});
        return h->open();
    }

    static void type(QLineEdit *field, const QString &text)
    {
        field->setFocus();
        QTRY_VERIFY(field->hasFocus());
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClicks(field, text);
    }

    static void paste(QLineEdit *field, const QString &text)
    {
        field->setFocus();
        QTRY_VERIFY(field->hasFocus());
        QGuiApplication::clipboard()->setText(text);
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    }

    // The mini clock's top-left corner in pixels of the picture's drawing area.
    static QPoint miniClock(frmConfig &form)
    {
        return form.picHor->pos() - form.picScreen->drawingArea().topLeft();
    }

    // Drags the mini clock, grabbed at `grab` inside it, to `to` in the
    // dialog's coordinates, through `via` first when given.
    static void drag(frmConfig &form, QPoint grab, QPoint to, std::optional<QPoint> via = std::nullopt)
    {
        MiniClock *clock = form.picHor;
        QTest::mousePress(clock, Qt::LeftButton, {}, grab);
        QVERIFY(form.isDragging());
        QVERIFY(form.dragOutline()->isVisible());
        if (via)
            QTest::mouseMove(clock, clock->mapFrom(&form, *via));
        QTest::mouseMove(clock, clock->mapFrom(&form, to));
        QTest::mouseRelease(clock, Qt::LeftButton, {}, clock->mapFrom(&form, to));
        QVERIFY(!form.isDragging());
        QVERIFY(!form.dragOutline()->isVisible());
    }

    static QPoint inPicture(frmConfig &form, QPoint drawingPoint)
    {
        return form.picScreen->mapTo(&form, form.picScreen->drawingArea().topLeft() + drawingPoint);
    }

private Q_SLOTS:
    void init() { h = std::make_unique<DialogHarness>(); }
    void cleanup() { h.reset(); }

    void boundsComeFromTheScreen()
    {
        frmConfig &form = openInMode(1);
        QCOMPARE(form.lblPos[0]->text(), QStringLiteral("sur 1024"));
        QCOMPARE(form.lblPos[1]->text(), QStringLiteral("sur 768"));
        QCOMPARE(form.picScreen->drawingArea().size(), QSize(133, 98));
    }

    void leavingAFieldValidatesIt_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("shown");
        QTest::newRow("beyond the bound") << 0 << "99999" << "1024";
        QTest::newRow("twelve and seven tenths") << 0 << "12.7" << "12";
        QTest::newRow("decimal comma") << 0 << "12,7" << "12";
        QTest::newRow("a fraction above the bound") << 1 << "768.5" << "768";
        QTest::newRow("the bound itself") << 0 << "1024" << "1024";
        QTest::newRow("negative") << 1 << "-3" << "0";
        QTest::newRow("a fraction below zero") << 0 << "-0.5" << "0";
        QTest::newRow("exponent") << 0 << "1e3" << "1000";
    }

    void leavingAFieldValidatesIt()
    {
        QFETCH(int, field);
        QFETCH(QString, pasted);
        QFETCH(QString, shown);
        frmConfig &form = openInMode(1);
        QLineEdit *edited = form.txtPos[size_t(field)];
        QLineEdit *other = form.txtPos[size_t(1 - field)];
        paste(edited, pasted);
        QCOMPARE(edited->text(), pasted);
        click(other);
        QVERIFY(h->messages.shown.empty());
        QCOMPARE(edited->text(), shown);
        QVERIFY(other->hasFocus());
    }

    void onlyDigitsCanBeTyped()
    {
        frmConfig &form = openInMode(1);
        type(form.txtPos[0], QStringLiteral("1a2-3.4"));
        QCOMPARE(form.txtPos[0]->text(), QStringLiteral("1234"));
        QCOMPARE(h->beeps, 3);
        // Editing keys still work.
        QTest::keyClick(form.txtPos[0], Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(form.txtPos[0]->selectedText(), QStringLiteral("1234"));
        QTest::keyClick(form.txtPos[0], Qt::Key_Backspace);
        QTest::keyClick(form.txtPos[0], Qt::Key_Left);
        QTest::keyClicks(form.txtPos[0], QStringLiteral("77"));
        QCOMPARE(form.txtPos[0]->text(), QStringLiteral("77"));
        QCOMPARE(h->beeps, 3);
    }

    void anInvalidFieldKeepsTheFocus_data()
    {
        QTest::addColumn<QString>("pasted");
        QTest::newRow("emptied") << "";
        QTest::newRow("not a number") << "abc";
        QTest::newRow("two signs") << "1-2";
    }

    void anInvalidFieldKeepsTheFocus()
    {
        QFETCH(QString, pasted);
        frmConfig &form = openInMode(2);
        paste(form.txtPos[0], pasted);
        click(form.txtPos[1]);
        QCOMPARE(h->messages.texts(), QStringList{"Valeur de position non valide."});
        QCOMPARE(h->messages.shown[0].caption, QStringLiteral("TintarelPanel"));
        QVERIFY(form.txtPos[0]->hasFocus());
        QCOMPARE(form.txtPos[0]->selectedText(), pasted);
        QCOMPARE(form.txtPos[0]->text(), pasted);
    }

    void oneInvalidFieldGivesOneMessageOnly()
    {
        frmConfig &form = openInMode(2);
        form.txtPos[1]->setText(QStringLiteral("x"));
        paste(form.txtPos[0], QString());
        // The focus put back into the first field must not validate the
        // second one in turn.
        click(form.txtPos[1]);
        QCOMPARE(h->messages.shown.size(), size_t(1));
        QVERIFY(form.txtPos[0]->hasFocus());
        QCOMPARE(form.txtPos[1]->text(), QStringLiteral("x"));
    }

    void aClickThatFailsValidationDoesNothingElse()
    {
        frmConfig &form = openInMode(2);
        paste(form.txtPos[0], QString());
        click(form.cmdOk);
        QCOMPARE(h->messages.texts(), QStringList{"Valeur de position non valide."});
        QVERIFY(form.isVisible());
        QVERIFY(h->store.writes.isEmpty());
        click(form.optPlace[0]);
        QCOMPARE(h->messages.shown.size(), size_t(2));
        QVERIFY(form.optPlace[2]->isChecked());
        QCOMPARE(form.StartPosIndex, 2);
    }

    void lastPlaceRestoresTheStoredPositionAndGreys()
    {
        frmConfig &form = openInMode(2, 1507, 750);
        QCOMPARE(form.txtPos[0]->text(), QStringLiteral("100"));
        type(form.txtPos[0], QStringLiteral("300"));
        type(form.txtPos[1], QStringLiteral("200"));
        const QPoint edited = miniClock(form);
        click(form.optPlace[0]);
        QCOMPARE(form.StartPosIndex, 0);
        QCOMPARE(form.txtPos[0]->text(), QStringLiteral("100"));
        QCOMPARE(form.txtPos[1]->text(), QStringLiteral("50"));
        for (QWidget *control : std::initializer_list<QWidget *>{form.txtPos[0], form.txtPos[1], form.updPos[0],
                                                                 form.updPos[1], form.lblPosDir[0],
                                                                 form.lblPosDir[1], form.lblPos[0], form.lblPos[1],
                                                                 form.picHor})
            QVERIFY(!control->isEnabled());
        QVERIFY(miniClock(form) != edited);
        click(form.optPlace[1]);
        QVERIFY(form.txtPos[0]->isEnabled() && form.picHor->isEnabled() && form.updPos[1]->isEnabled());
        QCOMPARE(form.txtPos[0]->text(), QStringLiteral("100"));
    }

    void fieldsPlaceTheMiniClock_data()
    {
        QTest::addColumn<QString>("horizontal");
        QTest::addColumn<QString>("vertical");
        QTest::addColumn<QPoint>("place");
        // left = 1995 × (x × 15 / 15360), top = 1470 × (y × 15 / 11520), to whole pixels.
        QTest::newRow("origin") << "0" << "0" << QPoint(0, 0);
        QTest::newRow("centre") << "512" << "384" << QPoint(66, 49);
        QTest::newRow("far corner") << "1024" << "768" << QPoint(133, 98);
        QTest::newRow("a tenth") << "102" << "77" << QPoint(13, 10);
    }

    void fieldsPlaceTheMiniClock()
    {
        QFETCH(QString, horizontal);
        QFETCH(QString, vertical);
        QFETCH(QPoint, place);
        frmConfig &form = openInMode(1);
        type(form.txtPos[0], horizontal);
        type(form.txtPos[1], vertical);
        QTest::keyClick(form.txtPos[1], Qt::Key_Tab);
        QCOMPARE(miniClock(form), place);
    }

    void spinBoxesStepTheFields()
    {
        frmConfig &form = openInMode(1, 15 * 1023, 750);
        QCOMPARE(form.txtPos[0]->text(), QStringLiteral("1023"));
        click(form.updPos[0]->upButton());
        QCOMPARE(form.txtPos[0]->text(), QStringLiteral("1024"));
        QCOMPARE(miniClock(form).x(), 133);
        click(form.updPos[0]->upButton());
        QCOMPARE(form.txtPos[0]->text(), QStringLiteral("1024"));
        click(form.updPos[1]->downButton());
        QCOMPARE(form.txtPos[1]->text(), QStringLiteral("49"));
        // 1470 × (49 × 15 / 11520) = 93.8 twips.
        QCOMPARE(miniClock(form).y(), 6);
        QVERIFY(h->messages.shown.empty());
    }

    void dropSetsTheFieldsFromTheMiniClock_data()
    {
        QTest::addColumn<QPoint>("grab");
        QTest::addColumn<QPoint>("drop");
        QTest::addColumn<QString>("fields");
        // Grab (5, 4) pixels = (75, 60) twips; dropped at (60, 40) the corner
        // lies at (825, 540) twips: x = 15360 × (825 / 1995) / 15 = 423.46,
        // y = 11520 × (540 / 1470) / 15 = 282.1.
        QTest::newRow("inside the picture") << QPoint(5, 4) << QPoint(60, 40) << "423,282";
        // (2, 30): left = 30 - 75 = -45 twips, x = -23.1, rounded down.
        QTest::newRow("near the left edge") << QPoint(5, 4) << QPoint(2, 30) << "-24,203";
        // (40, 3) grabbed at (0, 8): top = 45 - 120 = -75 twips, y = -39.2.
        QTest::newRow("near the top edge") << QPoint(0, 8) << QPoint(40, 3) << "307,-40";
        QTest::newRow("at the far corner") << QPoint(1, 1) << QPoint(134, 99) << "1024,768";
    }

    void dropSetsTheFieldsFromTheMiniClock()
    {
        QFETCH(QPoint, grab);
        QFETCH(QPoint, drop);
        QFETCH(QString, fields);
        frmConfig &form = openInMode(1);
        drag(form, grab, inPicture(form, drop));
        QCOMPARE(form.GrabX, int16_t(grab.x() * 15));
        QCOMPARE(form.GrabY, int16_t(grab.y() * 15));
        QCOMPARE(miniClock(form), drop - grab);
        QCOMPARE(form.txtPos[0]->text() + QLatin1Char(',') + form.txtPos[1]->text(), fields);
        QVERIFY(h->messages.shown.empty());

        // A drop is stored as it stands.
        h->messages.answers = {MessageBox::Answer::No};
        click(form.cmdOk);
        const QStringList parts = fields.split(QLatin1Char(','));
        QVERIFY(h->store.writes.contains(QStringLiteral("Position/Left=%1").arg(parts[0].toInt() * 15)));
        QVERIFY(h->store.writes.contains(QStringLiteral("Position/Top=%1").arg(parts[1].toInt() * 15)));
    }

    void dragsThatEndWithoutMoving_data()
    {
        QTest::addColumn<QString>("over");
        QTest::newRow("over the frame's own surface") << "frame";
        QTest::newRow("over the dialog's own surface") << "dialog";
        QTest::newRow("onto the mini clock itself") << "itself";
        QTest::newRow("onto another control") << "field";
    }

    void dragsThatEndWithoutMoving()
    {
        QFETCH(QString, over);
        frmConfig &form = openInMode(1);
        const QPoint before = miniClock(form);
        const QString fields = form.txtPos[0]->text() + QLatin1Char(',') + form.txtPos[1]->text();
        const QPoint target = inPicture(form, QPoint(90, 70));
        if (over == QLatin1String("frame")) {
            const QPoint surface = form.fraPlace->mapTo(&form, QPoint(100, form.fraPlace->height() - 8));
            QCOMPARE(form.childAt(surface), form.fraPlace);
            drag(form, QPoint(3, 3), target, surface);
        } else if (over == QLatin1String("dialog")) {
            const QPoint surface(250, form.fraPlace->geometry().bottom() + 6);
            QCOMPARE(form.childAt(surface), nullptr);
            drag(form, QPoint(3, 3), target, surface);
        } else if (over == QLatin1String("itself")) {
            drag(form, QPoint(3, 3), form.picHor->mapTo(&form, QPoint(6, 5)));
        } else {
            drag(form, QPoint(3, 3), form.txtPos[1]->mapTo(&form, form.txtPos[1]->rect().center()));
        }
        QCOMPARE(miniClock(form), before);
        QCOMPARE(form.txtPos[0]->text() + QLatin1Char(',') + form.txtPos[1]->text(), fields);
    }

    void storedNegativePositionShowsPerMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("fields");
        QTest::newRow("last place clamps the fields") << 0 << "0,0";
        QTest::newRow("next start shows the negative pixels") << 1 << "-20,-10";
        QTest::newRow("always shows the negative pixels") << 2 << "-20,-10";
    }

    void storedNegativePositionShowsPerMode()
    {
        QFETCH(int, mode);
        QFETCH(QString, fields);
        frmConfig &form = openInMode(mode, -300, -150);
        QCOMPARE(form.txtPos[0]->text() + QLatin1Char(',') + form.txtPos[1]->text(), fields);
        // Placed from the stored value: 1995 × (-300 / 15360) = -39 twips,
        // 1470 × (-150 / 11520) = -19 twips, partly outside the picture.
        QCOMPARE(miniClock(form), QPoint(-3, -1));
        QVERIFY(h->messages.shown.empty());
    }
};

PANEL_TEST_MAIN(tst_PositionEditor, "1024x768x24")

#include "tst_positioneditor.moc"
