#include "CheckBox.h"
#include "HelpWindow.h"
#include "MiniClock.h"
#include "PanelFakes.h"
#include "UpDown.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScreen>
#include <QTextBrowser>
#include <QTimeEdit>
#include <QtTest>

// The dialog's load from the settings and the command line, "OK", the
// unload and its restart rule, the keys and the captions, over fakes on a
// 3840 × 2160 screen of its own.
class tst_DialogLoad : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DialogHarness> h;

    template <size_t N>
    static int selected(const std::array<QRadioButton *, N> &group)
    {
        for (size_t i = 0; i < N; ++i)
            if (group[i]->isChecked())
                return int(i);
        return -1;
    }
    static void type(QLineEdit *field, const QString &text)
    {
        field->setFocus();
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClicks(field, text);
    }

private Q_SLOTS:
    void init() { h = std::make_unique<DialogHarness>(); }
    void cleanup() { h.reset(); }

    void loadShowsTheStoredSettings_data()
    {
        QTest::addColumn<QStringList>("stored");
        // chime index, chkNbHeures, chkVeille, chkCalendrier, visibility,
        // chkPlage, chkActiver, start mode.
        QTest::addColumn<QList<int>>("values");
        // chkNbHeures, chkVeille, dtpDeb, position editor.
        QTest::addColumn<QList<bool>>("enabled");
        QTest::addColumn<QString>("shownFields");
        QTest::newRow("empty store") << QStringList() << QList<int>{3, 1, 1, 0, 2, 0, 1, 0}
                                     << QList<bool>{true, true, false, false} << "6,6";
        QTest::newRow("Aucun clears what needs chimes, chimes off")
            << QStringList{"Réglages/Carillons=0", "Réglages/EnumHeures=1", "Réglages/Veille=1", "Réglages/Activer=0"}
            << QList<int>{0, 0, 0, 0, 2, 0, 0, 0} << QList<bool>{false, false, false, false} << "6,6";
        QTest::newRow("greyed boxes, mode 1")
            << QStringList{"Réglages/Calendrier=2", "Plage/Check=2", "Réglages/Visibilité=3", "Réglages/StartPos=1",
                           "Position/Left=1500", "Position/Top=750"}
            << QList<int>{3, 1, 1, 2, 3, 2, 1, 1} << QList<bool>{true, true, true, true} << "100,50";
        QTest::newRow("mode 2 left of and above the screen")
            << QStringList{"Réglages/StartPos=2", "Position/Left=-300", "Position/Top=-16"}
            << QList<int>{3, 1, 1, 0, 2, 0, 1, 2} << QList<bool>{true, true, false, true} << "-20,-2";
        QTest::newRow("mode 0 left of the screen is clamped")
            << QStringList{"Réglages/StartPos=0", "Position/Left=-300", "Position/Top=150"}
            << QList<int>{3, 1, 1, 0, 2, 0, 1, 0} << QList<bool>{true, true, false, false} << "0,10";
    }
    void loadShowsTheStoredSettings()
    {
        QFETCH(QStringList, stored);
        QFETCH(QList<int>, values);
        QFETCH(QList<bool>, enabled);
        QFETCH(QString, shownFields);
        h->store.set(stored);
        frmConfig &form = h->open();

        QCOMPARE(h->messages.texts, QStringList());
        const QList<int> shown{selected(form.optCarillon), form.chkNbHeures->value(), form.chkVeille->value(),
                               form.chkCalendrier->value(), selected(form.optVisi),     form.chkPlage->value(),
                               form.chkActiver->value(),     selected(form.optPlace)};
        QCOMPARE(shown, values);
        QCOMPARE(form.VisibilityIndex, values[4]);
        QCOMPARE(form.StartPosIndex, values[7]);
        const QList<bool> isEnabled{form.chkNbHeures->isEnabled(), form.chkVeille->isEnabled(),
                                    form.dtpDeb->isEnabled(), form.txtPos[0]->isEnabled()};
        QCOMPARE(isEnabled, enabled);
        QCOMPARE(fields(form), shownFields);
        QVERIFY(h->store.writes.isEmpty());
        // The focus starts on the chime pattern, where neither Space nor
        // Enter can change a setting; OK takes it when the pattern is greyed.
        QWidget *first = form.chkActiver->value() == 0 ? static_cast<QWidget *>(form.cmdOk)
                                                       : form.optCarillon[size_t(values[0])];
        QCOMPARE(QApplication::focusWidget(), first);
    }

    void loadStopsAtAValueOutOfItsDomain_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QString>("named");
        // Whether the later steps ran: visibility (step 9), bounds (step 15).
        QTest::addColumn<bool>("visibilityShown");
        QTest::addColumn<bool>("boundsShown");
        QTest::newRow("chime index 4") << QStringList{"Réglages/Carillons=4"} << "optCarillon" << false << false;
        QTest::newRow("chimes switch 3") << QStringList{"Réglages/Activer=3"} << "chkActiver" << true << false;
        QTest::newRow("start mode 3") << QStringList{"Réglages/StartPos=3"} << "optPlace" << true << true;
        QTest::newRow("unreadable") << QStringList{"Réglages/Carillons=abc"} << "Carillons" << false << false;
    }
    void loadStopsAtAValueOutOfItsDomain()
    {
        QFETCH(QStringList, stored);
        QFETCH(QString, named);
        QFETCH(bool, visibilityShown);
        QFETCH(bool, boundsShown);
        h->store.set(stored);
        frmConfig &form = h->open();
        QCOMPARE(h->messages.texts.size(), 1);
        const QString text = h->messages.texts.front();
        QVERIFY2(text.startsWith(QStringLiteral("Survenue d'une erreur : ")) && text.contains(named), qPrintable(text));
        QCOMPARE(selected(form.optVisi) >= 0, visibilityShown);
        QCOMPARE(form.lblPos[0]->text() != QStringLiteral("Label5"), boundsShown);
        // The rest is skipped: no help file, so F1 does nothing.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
        QVERIFY(!form.helpWindow());
    }

    void commandLineDecidesTheRestart_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<bool>("running");
        QTest::addColumn<QStringList>("calls");
        QTest::newRow("by the clock, still there") << "AffichHorloge" << true << QStringList{"find", "promise"};
        QTest::newRow("by the clock, gone") << "AffichHorloge" << false << QStringList{"find", "promise"};
        QTest::newRow("by the user, clock running") << "" << true << QStringList{"find", "promise", "close"};
        QTest::newRow("by the user, no clock") << "" << false << QStringList{"find"};
        QTest::newRow("other letter case") << "affichhorloge" << true << QStringList{"find", "promise", "close"};
        QTest::newRow("further text") << "AffichHorloge 1" << false << QStringList{"find"};
    }
    void commandLineDecidesTheRestart()
    {
        QFETCH(QString, arguments);
        QFETCH(bool, running);
        QFETCH(QStringList, calls);
        h->clock.running = running;
        int readsAtClose = -1;
        h->clock.onClose = [&] { readsAtClose = h->store.reads; };
        frmConfig &form = h->open(arguments, false);
        QCOMPARE(h->clock.calls, calls);
        QCOMPARE(form.RestartClock, calls.contains(QStringLiteral("promise")));
        // The settings are read only once the clock is down.
        if (running && calls.contains(QStringLiteral("close")))
            QCOMPARE(readsAtClose, 0);
    }

    void okStoresEachSettingInItsOrder()
    {
        QStringList &journal = h->store.writes;
        h->library.journal = &journal;
        h->store.set({"Réglages/Carillons=2", "Réglages/Visibilité=1", "Réglages/StartPos=2", "Position/Left=3000",
                      "Position/Top=1500"});
        frmConfig &form = h->open();
        click(form.chkDémarrage);
        click(form.chkPlage);
        form.dtpDeb->setTime(QTime(8, 15, 0));
        click(form.optVisi[3]);
        click(form.optCarillon[3]);
        h->messages.answers = {MessageBox::Answer::No};
        click(form.cmdOk);
        const QStringList expected{"Réglages/Carillons=3", "Réglages/Visibilité=3", "Run+",
                                   "Réglages/EnumHeures=1", "Réglages/Veille=1", "Réglages/Calendrier=0",
                                   "Plage/Check=1", "Plage/Debut=08:15:00", "Plage/Fin=20:00:00",
                                   "Réglages/Activer=1", "Réglages/ForeColor=-2147483630",
                                   "Réglages/BackColor=-2147483633", "Réglages/StartPos=2", "Position/Top=1500",
                                   "Position/Left=3000"};
        QCOMPARE(journal, expected);
        QVERIFY(!form.isVisible());
    }

    void okChecksThePositionFields_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("horizontal");
        QTest::addColumn<QString>("vertical");
        QTest::addColumn<QStringList>("written");
        // A message the dialog stays open with; none when it closes.
        QTest::addColumn<QString>("message");
        QTest::newRow("mode 0 leaves the position") << 0 << "" << "" << QStringList() << "";
        QTest::newRow("mode 1") << 1 << "100" << "50" << QStringList{"Position/Top=750", "Position/Left=1500"} << "";
        QTest::newRow("largest that fits") << 2 << "2184" << "2160"
                                           << QStringList{"Position/Top=32400", "Position/Left=32760"} << "";
        QTest::newRow("right of 2184 pixels") << 2 << "3000" << "10"
                                              << QStringList{"Position/Top=150", "Position/Left=45000"} << "";
        QTest::newRow("an emptied field") << 1 << "10" << "" << QStringList() << "Valeur de position non valide.";
    }
    void okChecksThePositionFields()
    {
        QFETCH(int, mode);
        QFETCH(QString, horizontal);
        QFETCH(QString, vertical);
        QFETCH(QStringList, written);
        QFETCH(QString, message);
        frmConfig &form = h->open();
        click(form.optPlace[size_t(mode)]);
        if (mode != 0) {
            type(form.txtPos[0], horizontal);
            type(form.txtPos[1], vertical);
        }
        // By Enter, from the field: the field is validated before anything is stored.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(h->store.writes.filter(QStringLiteral("Position/")), written);
        QCOMPARE(form.isVisible(), !message.isEmpty());
        QCOMPARE(h->messages.texts.filter(QStringLiteral("position")), message.isEmpty() ? QStringList() : QStringList{message});
        if (!message.isEmpty())
            QVERIFY(h->store.writes.isEmpty());
    }

    void neverAudibleNeverVisibleGuard_data()
    {
        QTest::addColumn<int>("chime");
        QTest::addColumn<int>("visibility");
        QTest::addColumn<bool>("chimesOn");
        QTest::addColumn<MessageBox::Answer>("answer");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("stored");
        QTest::newRow("Aucun and Jamais, No") << 0 << 0 << true << MessageBox::Answer::No << true << false;
        QTest::newRow("Aucun and Jamais, Yes") << 0 << 0 << true << MessageBox::Answer::Yes << true << true;
        QTest::newRow("Aucun and Jamais, chimes off") << 0 << 0 << false << MessageBox::Answer::No << true << false;
        QTest::newRow("Aucun while chiming") << 0 << 1 << true << MessageBox::Answer::No << false << true;
        QTest::newRow("Tous and Jamais, chimes off") << 3 << 0 << false << MessageBox::Answer::No << false << true;
    }
    void neverAudibleNeverVisibleGuard()
    {
        QFETCH(int, chime);
        QFETCH(int, visibility);
        QFETCH(bool, chimesOn);
        QFETCH(MessageBox::Answer, answer);
        QFETCH(bool, asked);
        QFETCH(bool, stored);
        frmConfig &form = h->open();
        click(form.optCarillon[size_t(chime)]);
        click(form.optVisi[size_t(visibility)]);
        if (!chimesOn)
            click(form.chkActiver);
        h->messages.answers = {answer, MessageBox::Answer::No};
        click(form.cmdOk);
        const bool guardShown = !h->messages.texts.empty()
                                && h->messages.texts[0].contains(QStringLiteral("jamais audible ni jamais visible"))
                                && h->messages.questions[0];
        QCOMPARE(guardShown, asked);
        QCOMPARE(!h->store.writes.isEmpty(), stored);
        QCOMPARE(form.isVisible(), !stored);
    }

    // The unload silences the audition and, when no clock was running, asks
    // whether to start one; that every ending brings a clock taken down back
    // is shown end to end.
    void unloadAsksWhetherToStartTheClock_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("running");
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<MessageBox::Answer>("answer");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<int>("starts");
        QTest::newRow("Aucun and Jamais: not asked")
            << "Escape" << false << QStringList{"Réglages/Carillons=0", "Réglages/Visibilité=0"}
            << MessageBox::Answer::Yes << false << 0;
        QTest::newRow("Aucun while chiming, Yes")
            << "Escape" << false << QStringList{"Réglages/Carillons=0", "Réglages/Visibilité=1"}
            << MessageBox::Answer::Yes << true << 1;
        QTest::newRow("answered No") << "Escape" << false << QStringList() << MessageBox::Answer::No << true << 0;
        QTest::newRow("OK, answered Yes") << "OK" << false << QStringList() << MessageBox::Answer::Yes << true << 1;
        QTest::newRow("ended twice, clock taken down") << "twice" << true << QStringList() << MessageBox::Answer::No
                                                       << false << 1;
        QTest::newRow("ended twice, no clock") << "twice" << false << QStringList() << MessageBox::Answer::Yes
                                               << false << 0;
    }
    void unloadAsksWhetherToStartTheClock()
    {
        QFETCH(QString, how);
        QFETCH(bool, running);
        QFETCH(QStringList, stored);
        QFETCH(MessageBox::Answer, answer);
        QFETCH(bool, asked);
        QFETCH(int, starts);
        h->clock.running = running;
        h->store.set(stored);
        h->messages.answers = {answer};
        frmConfig &form = h->open();
        if (how == QLatin1String("OK"))
            click(form.cmdOk);
        else if (how == QLatin1String("Escape"))
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        else {
            form.Unload();
            form.Unload();
            form.close();
        }
        QTRY_VERIFY(!form.isVisible());
        QCOMPARE(h->player.commands.mid(0, 2), (QStringList{"Stop", "Close"}));
        QCOMPARE(h->messages.texts, asked ? QStringList{"Voulez-vous démarrer l'horloge à carillon ? "} : QStringList());
        QCOMPARE(h->clock.calls.count(QStringLiteral("start")), starts);
        QCOMPARE(h->store.writes.isEmpty(), how != QLatin1String("OK"));
    }

    void enterIsOkAndNeverTogglesAChoice_data()
    {
        QTest::addColumn<QString>("control");
        // A check box is shown end to end, under the style that toggles it.
        QTest::newRow("option") << "optVisi(0)";
        QTest::newRow("time picker") << "dtpDeb";
        QTest::newRow("list") << "cboCar";
        QTest::newRow("mini clock") << "picHor";
    }
    void enterIsOkAndNeverTogglesAChoice()
    {
        QFETCH(QString, control);
        h->store.set({"Réglages/StartPos=1"});
        frmConfig &form = h->open();
        const QMap<QString, QWidget *> controls{
            {"optVisi(0)", form.optVisi[0]}, {"dtpDeb", form.dtpDeb}, {"cboCar", form.cboCar}, {"picHor", form.picHor}};
        controls.value(control)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(!form.isVisible());
        QVERIFY(h->store.writes.contains(QStringLiteral("Réglages/Visibilité=2")));
    }

    void aClockThatCannotStartIsTold()
    {
        h->clock.running = true;
        h->clock.startFails = true;
        frmConfig &form = h->open();
        click(form.cmdAnnuler);
        QCOMPARE(h->messages.texts.size(), 1);
        QVERIFY(h->messages.texts[0].contains(QStringLiteral("programme introuvable")));
    }

    void unreadableSettingsAreNeverStored()
    {
        h->clock.running = true;
        h->store.set({"Position/Top=99999999999"});
        frmConfig &form = h->open();
        click(form.cmdOk);
        QVERIFY(!form.isVisible());
        QVERIFY(h->store.writes.isEmpty());
        QCOMPARE(h->messages.texts.size(), 2);
        QVERIFY(h->messages.texts[1].contains(QStringLiteral("n'ont pas pu être lus")));
        QCOMPARE(h->clock.calls.count(QStringLiteral("start")), 1);
    }

    void aFailedWriteStopsTheStoringAndKeepsTheDialog()
    {
        h->store.refuse = QStringLiteral("Plage/Check");
        frmConfig &form = h->open();
        click(form.cmdOk);
        QCOMPARE(h->store.writes.last(), QStringLiteral("Réglages/Calendrier=0"));
        QVERIFY(form.isVisible());
        QVERIFY(h->messages.texts.join(QString()).contains(QStringLiteral("Plage")));
    }

    void aGreyedBoxIsNeverGreyedAgainByClicks()
    {
        h->store.set({"Réglages/Calendrier=2"});
        frmConfig &form = h->open();
        QList<int> values;
        for (int i = 0; i < 3; ++i) {
            click(form.chkCalendrier);
            values << form.chkCalendrier->value();
        }
        QCOMPARE(values, (QList<int>{1, 0, 1}));
    }

    void helpOpensAtTheTopicBesideTheDialog_data()
    {
        QTest::addColumn<QPoint>("dialogAt");
        QTest::newRow("at the top-left corner") << QPoint(0, 0);
        QTest::newRow("at the right edge") << QPoint(3840 - 520, 100);
    }
    void helpOpensAtTheTopicBesideTheDialog()
    {
        QFETCH(QPoint, dialogAt);
        frmConfig &form = h->open();
        form.move(dialogAt);
        form.chkCalendrier->setFocus();
        QTest::keyClick(form.chkCalendrier, Qt::Key_F1);
        HelpWindow *help = form.helpWindow();
        QVERIFY(help && help->isVisible());
        QCOMPARE(help->topic(), 80);
        QCOMPARE(help->browser()->source().fragment(), HelpWindow::anchor(80));
        QTRY_VERIFY(!help->frameGeometry().intersects(form.frameGeometry()));
        QCOMPARE(help->frameGeometry().top(), form.frameGeometry().top());
        QVERIFY(form.screen()->availableGeometry().contains(help->frameGeometry()));
        QVERIFY(h->messages.texts.isEmpty());
    }

    void everyCaptionFitsOrIsElidedWithItsText_data()
    {
        QTest::addColumn<QString>("family");
        QTest::addColumn<double>("points");
        QTest::newRow("as designed") << "" << 0.0;
        // What a system without the Liberation fonts draws instead.
        QTest::newRow("a wider sans") << "DejaVu Sans" << 9.0;
    }
    void everyCaptionFitsOrIsElidedWithItsText()
    {
        QFETCH(QString, family);
        QFETCH(double, points);
        h->store.set({"Réglages/StartPos=1"});
        auto form = std::make_unique<frmConfig>(h->services());
        if (!family.isEmpty()) {
            QFont font(family);
            font.setPointSizeF(points);
            form->setFont(font);
        }
        form->Load(QString());
        int elided = 0;
        for (auto *control : form->findChildren<QWidget *>()) {
            QString caption;
            if (auto *button = qobject_cast<QAbstractButton *>(control))
                caption = button->text();
            else if (auto *label = qobject_cast<QLabel *>(control))
                caption = label->text();
            else if (auto *box = qobject_cast<QGroupBox *>(control))
                caption = box->title();
            if (caption.isEmpty())
                continue;
            const bool isChoice = qobject_cast<QCheckBox *>(control) || qobject_cast<QRadioButton *>(control);
            const int needed = isChoice ? control->sizeHint().width()
                                        : QFontMetrics(control->font()).horizontalAdvance(caption);
            QVERIFY2(needed <= control->width(), qPrintable(caption));
            QVERIFY2(control->font().pointSizeF() >= 6.4, qPrintable(caption));
            if (caption.endsWith(QChar(0x2026))) {
                ++elided;
                QVERIFY2(control->toolTip().startsWith(caption.chopped(1)), qPrintable(control->toolTip()));
            }
        }
        if (family.isEmpty())
            QCOMPARE(elided, 0);
    }
};

int main(int argc, char **argv)
{
    return runPanelTest<tst_DialogLoad>(argc, argv, "3840x2160x24");
}

#include "tst_dialogload.moc"
