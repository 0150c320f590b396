#include "MiniClock.h"
#include "PanelFakes.h"
#include "ScreenPicture.h"
#include "UpDown.h"

#include <QClipboard>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
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

    // Pasted, since typing lets digits only through.
    static void paste(QLineEdit *field, const QString &text)
    {
        field->setFocus();
        QTRY_VERIFY(field->hasFocus());
        QGuiApplication::clipboard()->setText(text);
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
    }

    // The mini clock's top-left corner in pixels of the picture's drawing area.
    static QPoint miniClock(frmConfig &form) { return form.picHor->pos() - form.picScreen->drawingArea().topLeft(); }

    static QPoint inPicture(frmConfig &form, QPoint drawingPoint)
    {
        return form.picScreen->mapTo(&form, form.picScreen->drawingArea().topLeft() + drawingPoint);
    }

    // Drags the mini clock, grabbed at `grab` inside it, to `to` in the
    // dialog's coordinates, through `via` first when given.
    static void drag(frmConfig &form, QPoint grab, QPoint to, std::optional<QPoint> via = std::nullopt)
    {
        MiniClock *clock = form.picHor;
        QTest::mousePress(clock, Qt::LeftButton, {}, grab);
        QVERIFY(form.isDragging() && form.dragOutline()->isVisible());
        if (via)
            QTest::mouseMove(clock, clock->mapFrom(&form, *via));
        QTest::mouseMove(clock, clock->mapFrom(&form, to));
        QTest::mouseRelease(clock, Qt::LeftButton, {}, clock->mapFrom(&form, to));
        QVERIFY(!form.isDragging() && !form.dragOutline()->isVisible());
    }

private Q_SLOTS:
    void init() { h = std::make_unique<DialogHarness>(); }
    void cleanup() { h.reset(); }

    // Leaving a field takes its value to whole pixels within the screen, or
    // tells that it is no number and keeps the focus there: one message, even
    // when the other field, which gets no focus, holds no number either.
    void leavingAFieldValidatesIt_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("pasted");
        // Empty: not valid.
        QTest::addColumn<QString>("shown");
        QTest::newRow("beyond the bound") << 0 << "99999" << "1024";
        QTest::newRow("one beyond the bound") << 0 << "1025" << "1024";
        QTest::newRow("twelve and seven tenths") << 0 << "12.7" << "12";
        QTest::newRow("decimal comma") << 0 << "12,7" << "12";
        QTest::newRow("a fraction above the bound") << 1 << "768.5" << "768";
        QTest::newRow("negative") << 1 << "-3" << "0";
        QTest::newRow("a fraction below zero") << 0 << "-0.5" << "0";
        QTest::newRow("exponent") << 0 << "1e3" << "1000";
        QTest::newRow("emptied") << 0 << "" << "";
        QTest::newRow("not a number") << 1 << "abc" << "";
        QTest::newRow("two signs") << 0 << "1-2" << "";
    }
    void leavingAFieldValidatesIt()
    {
        QFETCH(int, field);
        QFETCH(QString, pasted);
        QFETCH(QString, shown);
        frmConfig &form = openInMode(2);
        QLineEdit *edited = form.txtPos[size_t(field)];
        QLineEdit *other = form.txtPos[size_t(1 - field)];
        if (shown.isEmpty())
            other->setText(QStringLiteral("x"));
        paste(edited, pasted);
        click(other);
        if (shown.isEmpty()) {
            QCOMPARE(other->text(), QStringLiteral("x"));
            QCOMPARE(h->messages.texts, QStringList{"Valeur de position non valide."});
            QVERIFY(edited->hasFocus());
            QCOMPARE(edited->selectedText(), pasted);
            QCOMPARE(edited->text(), pasted);
        } else {
            QCOMPARE(h->messages.texts, QStringList());
            QCOMPARE(edited->text(), shown);
            QVERIFY(other->hasFocus());
        }
    }

    void onlyDigitsCanBeTyped()
    {
        frmConfig &form = openInMode(1);
        type(form.txtPos[0], QStringLiteral("1a2-3.4"));
        QCOMPARE(form.txtPos[0]->text(), QStringLiteral("1234"));
        QCOMPARE(h->beeps, 3);
        // Editing keys still work.
        QTest::keyClick(form.txtPos[0], Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(form.txtPos[0], Qt::Key_Backspace);
        QTest::keyClick(form.txtPos[0], Qt::Key_Left);
        QTest::keyClicks(form.txtPos[0], QStringLiteral("77"));
        QCOMPARE(form.txtPos[0]->text(), QStringLiteral("77"));
        QCOMPARE(h->beeps, 3);
    }

    void aClickThatFailsValidationDoesNothingElse()
    {
        frmConfig &form = openInMode(2);
        paste(form.txtPos[0], QString());
        click(form.cmdOk);
        QCOMPARE(h->messages.texts.size(), 1);
        QVERIFY(form.isVisible());
        QVERIFY(h->store.writes.isEmpty());
        click(form.optPlace[0]);
        QCOMPARE(h->messages.texts.size(), 2);
        QVERIFY(form.optPlace[2]->isChecked());
        QCOMPARE(form.StartPosIndex, 2);
    }

    void lastPlaceRestoresTheStoredPositionAndGreys()
    {
        frmConfig &form = openInMode(2, 1507, 750);
        QCOMPARE(fields(form), QStringLiteral("100,50"));
        type(form.txtPos[0], QStringLiteral("300"));
        type(form.txtPos[1], QStringLiteral("200"));
        const QPoint edited = miniClock(form);
        click(form.optPlace[0]);
        QCOMPARE(form.StartPosIndex, 0);
        QCOMPARE(fields(form), QStringLiteral("100,50"));
        for (QWidget *control : std::initializer_list<QWidget *>{form.txtPos[0], form.txtPos[1], form.updPos[0],
                                                                 form.updPos[1], form.lblPosDir[0], form.lblPosDir[1],
                                                                 form.lblPos[0], form.lblPos[1], form.picHor})
            QVERIFY(!control->isEnabled());
        QVERIFY(miniClock(form) != edited);
        click(form.optPlace[1]);
        QVERIFY(form.txtPos[0]->isEnabled() && form.picHor->isEnabled() && form.updPos[1]->isEnabled());
        QCOMPARE(form.txtPos[0]->text(), QStringLiteral("100"));
    }

    void positionPlacesTheMiniClock_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QPoint>("stored");
        // Typed into the fields when not empty.
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QPoint>("place");
        // left = 1995 × (x × 15 / 15360), top = 1470 × (y × 15 / 11520), to whole pixels.
        QTest::newRow("origin") << 1 << QPoint(1500, 750) << "0,0" << QPoint(0, 0);
        QTest::newRow("centre") << 1 << QPoint(1500, 750) << "512,384" << QPoint(66, 49);
        QTest::newRow("far corner") << 1 << QPoint(1500, 750) << "1024,768" << QPoint(133, 98);
        QTest::newRow("a tenth") << 1 << QPoint(1500, 750) << "102,77" << QPoint(13, 10);
        // 1995 × (-300 / 15360) = -39 twips, 1470 × (-150 / 11520) = -19 twips,
        // though the last place shows 0, 0 in its fields.
        QTest::newRow("stored left of and above the screen") << 0 << QPoint(-300, -150) << "" << QPoint(-3, -1);
    }
    void positionPlacesTheMiniClock()
    {
        QFETCH(int, mode);
        QFETCH(QPoint, stored);
        QFETCH(QString, typed);
        QFETCH(QPoint, place);
        frmConfig &form = openInMode(mode, stored.x(), stored.y());
        if (!typed.isEmpty()) {
            type(form.txtPos[0], typed.section(QLatin1Char(','), 0, 0));
            type(form.txtPos[1], typed.section(QLatin1Char(','), 1));
            QTest::keyClick(form.txtPos[1], Qt::Key_Tab);
        }
        QCOMPARE(miniClock(form), place);
        QVERIFY(h->messages.texts.isEmpty());
    }

    void spinBoxesStepTheFields()
    {
        frmConfig &form = openInMode(1, 15 * 1023, 750);
        click(form.updPos[0]->upButton());
        QCOMPARE(form.txtPos[0]->text(), QStringLiteral("1024"));
        QCOMPARE(miniClock(form).x(), 133);
        click(form.updPos[0]->upButton());
        QCOMPARE(form.txtPos[0]->text(), QStringLiteral("1024"));
        click(form.updPos[1]->downButton());
        QCOMPARE(form.txtPos[1]->text(), QStringLiteral("49"));
        // 1470 × (49 × 15 / 11520) = 93.8 twips.
        QCOMPARE(miniClock(form).y(), 6);
        QVERIFY(h->messages.texts.isEmpty());
    }

    void dropSetsTheFieldsFromTheMiniClock_data()
    {
        QTest::addColumn<QPoint>("grab");
        QTest::addColumn<QPoint>("drop");
        QTest::addColumn<QString>("shown");
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
        QFETCH(QString, shown);
        frmConfig &form = openInMode(1);
        drag(form, grab, inPicture(form, drop));
        QCOMPARE(miniClock(form), drop - grab);
        QCOMPARE(fields(form), shown);
        // A drop is stored as it stands.
        click(form.cmdOk);
        QVERIFY(h->messages.texts.filter(QStringLiteral("position")).isEmpty());
        const QStringList parts = shown.split(QLatin1Char(','));
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
        const QString shown = fields(form);
        const QPoint target = inPicture(form, QPoint(90, 70));
        if (over == QLatin1String("frame") || over == QLatin1String("dialog")) {
            // Dragged out through a surface, back over the picture, and dropped there.
            const QPoint surface = over == QLatin1String("frame")
                                       ? form.fraPlace->mapTo(&form, QPoint(100, form.fraPlace->height() - 8))
                                       : QPoint(250, form.fraPlace->geometry().bottom() + 6);
            QCOMPARE(form.childAt(surface), over == QLatin1String("frame") ? form.fraPlace : nullptr);
            drag(form, QPoint(3, 3), target, surface);
        } else {
            QWidget *onto = over == QLatin1String("itself") ? static_cast<QWidget *>(form.picHor) : form.txtPos[1];
            drag(form, QPoint(3, 3), onto->mapTo(&form, QPoint(6, 5)));
        }
        QCOMPARE(miniClock(form), before);
        QCOMPARE(fields(form), shown);
    }
};

int main(int argc, char **argv)
{
    return runPanelTest<tst_PositionEditor>(argc, argv, "1024x768x24");
}

#include "tst_positioneditor.moc"
