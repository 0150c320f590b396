#include "CheckBox.h"
#include "HelpWindow.h"
#include "MiniClock.h"
#include "PanelFakes.h"
#include "ScreenPicture.h"
#include "UpDown.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTimeEdit>
#include <QtTest>

// The dialog's load from the settings, the command line, "OK", "Annuler" and
// the restart of the clock, on a 3840 × 2160 screen of its own.
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

    static QStringList anchorsOf(QTextDocument *document)
    {
        QStringList names;
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
            for (auto it = block.begin(); !it.atEnd(); ++it)
                names << it.fragment().charFormat().anchorNames();
        return names;
    }

    static QString storedWrites(const QStringList &writes, const QString &prefix)
    {
        return writes.filter(prefix).join(QLatin1Char(';'));
    }

private Q_SLOTS:
    void init() { h = std::make_unique<DialogHarness>(); }
    void cleanup() { h.reset(); }

    void loadShowsTheStoredSettings_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QString>("runEntry");
        // Values: chime index, chkNbHeures, chkVeille, chkDémarrage, chkCalendrier,
        // visibility index, chkPlage, chkActiver, start mode.
        QTest::addColumn<QList<int>>("values");
        // Enabled: chkNbHeures, chkVeille, chkPlage, dtpDeb, optCarillon(0), position editor.
        QTest::addColumn<QList<bool>>("enabled");
        QTest::addColumn<QString>("times");
        QTest::addColumn<QString>("fields");

        QTest::newRow("empty store") << QStringList() << QString() << QList<int>{3, 1, 1, 0, 0, 2, 0, 1, 0}
                                     << QList<bool>{true, true, true, false, true, false} << "10:00-20:00"
                                     << "6,6";
        QTest::newRow("Aucun clears what needs chimes")
            << QStringList{"Réglages/Carillons=0", "Réglages/EnumHeures=1", "Réglages/Veille=1"} << QString()
            << QList<int>{0, 0, 0, 0, 0, 2, 0, 1, 0} << QList<bool>{false, false, true, false, true, false}
            << "10:00-20:00"
            << "6,6";
        QTest::newRow("Aucun with chimes off")
            << QStringList{"Réglages/Carillons=0", "Réglages/Activer=0"} << QString()
            << QList<int>{0, 0, 0, 0, 0, 2, 0, 0, 0} << QList<bool>{false, false, false, false, false, false}
            << "10:00-20:00"
            << "6,6";
        QTest::newRow("every box checked, a range, mode 1")
            << QStringList{"Réglages/Carillons=1", "Réglages/EnumHeures=1", "Réglages/Veille=0",
                           "Réglages/Calendrier=1", "Réglages/Visibilité=3", "Plage/Check=1",
                           "Plage/Debut=07:30:00", "Plage/Fin=22:45:00", "Réglages/StartPos=1",
                           "Position/Left=1500", "Position/Top=750"}
            << "/opt/Tintarel" << QList<int>{1, 1, 0, 1, 1, 3, 1, 1, 1}
            << QList<bool>{true, true, true, true, true, true} << "07:30-22:45"
            << "100,50";
        QTest::newRow("chimes off keep the range pickers of a checked range")
            << QStringList{"Réglages/Activer=0", "Plage/Check=1"} << QString()
            << QList<int>{3, 1, 1, 0, 0, 2, 1, 0, 0} << QList<bool>{false, false, false, true, false, false}
            << "10:00-20:00"
            << "6,6";
        QTest::newRow("greyed boxes")
            << QStringList{"Réglages/Calendrier=2", "Plage/Check=2", "Réglages/Activer=2", "Réglages/Veille=2"}
            << QString() << QList<int>{3, 1, 2, 0, 2, 2, 2, 2, 0}
            << QList<bool>{true, true, true, true, true, false} << "10:00-20:00"
            << "6,6";
        QTest::newRow("mode 2 left of and above the screen")
            << QStringList{"Réglages/StartPos=2", "Position/Left=-300", "Position/Top=-16"} << QString()
            << QList<int>{3, 1, 1, 0, 0, 2, 0, 1, 2} << QList<bool>{true, true, true, false, true, true}
            << "10:00-20:00"
            << "-20,-2";
        QTest::newRow("mode 0 left of the screen is clamped")
            << QStringList{"Réglages/StartPos=0", "Position/Left=-300", "Position/Top=150"} << QString()
            << QList<int>{3, 1, 1, 0, 0, 2, 0, 1, 0} << QList<bool>{true, true, true, false, true, false}
            << "10:00-20:00"
            << "0,10";
    }

    void loadShowsTheStoredSettings()
    {
        QFETCH(QStringList, stored);
        QFETCH(QString, runEntry);
        QFETCH(QList<int>, values);
        QFETCH(QList<bool>, enabled);
        QFETCH(QString, times);
        QFETCH(QString, fields);
        h->store.set(stored);
        h->library.runEntry = runEntry;
        frmConfig &form = h->open();

        QVERIFY2(h->messages.shown.empty(), qPrintable(h->messages.texts().join(QLatin1Char('|'))));
        const QList<int> shown{selected(form.optCarillon), form.chkNbHeures->value(), form.chkVeille->value(),
                               form.chkDémarrage->value(), form.chkCalendrier->value(), selected(form.optVisi),
                               form.chkPlage->value(), form.chkActiver->value(), selected(form.optPlace)};
        QCOMPARE(shown, values);
        QCOMPARE(form.VisibilityIndex, values[5]);
        QCOMPARE(form.StartPosIndex, values[8]);
        const QList<bool> isEnabled{form.chkNbHeures->isEnabled(), form.chkVeille->isEnabled(),
                                    form.chkPlage->isEnabled(),    form.dtpDeb->isEnabled(),
                                    form.optCarillon[0]->isEnabled(), form.txtPos[0]->isEnabled()};
        QCOMPARE(isEnabled, enabled);
        QCOMPARE(form.dtpFin->isEnabled(), form.dtpDeb->isEnabled());
        QCOMPARE(form.picHor->isEnabled(), form.txtPos[0]->isEnabled());
        QCOMPARE(form.dtpDeb->text() + QLatin1Char('-') + form.dtpFin->text(), times);
        QCOMPARE(form.txtPos[0]->text() + QLatin1Char(',') + form.txtPos[1]->text(), fields);
        QCOMPARE(form.cboCar->currentText(), QStringLiteral("Quatre heures"));
        QVERIFY(h->store.writes.isEmpty());
    }

    void loadStopsAtAValueOutOfItsDomain_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QString>("named");
        // Whether a later step ran: the visibility option selected (step 9)
        // and the bound of the horizontal field (step 15).
        QTest::addColumn<bool>("visibilityShown");
        QTest::addColumn<bool>("boundsShown");

        QTest::newRow("chime index 4") << QStringList{"Réglages/Carillons=4"} << "optCarillon" << false << false;
        QTest::newRow("negative chime index") << QStringList{"Réglages/Carillons=-1"} << "optCarillon" << false
                                              << false;
        QTest::newRow("hour strikes 3") << QStringList{"Réglages/EnumHeures=3"} << "chkNbHeures" << false << false;
        QTest::newRow("date 7") << QStringList{"Réglages/Calendrier=7"} << "chkCalendrier" << false << false;
        QTest::newRow("visibility 4") << QStringList{"Réglages/Visibilité=4"} << "optVisi" << false << false;
        QTest::newRow("range -1") << QStringList{"Plage/Check=-1"} << "chkPlage" << true << false;
        QTest::newRow("chimes switch 3") << QStringList{"Réglages/Activer=3"} << "chkActiver" << true << false;
        QTest::newRow("start mode 3") << QStringList{"Réglages/StartPos=3"} << "optPlace" << true << true;
        QTest::newRow("unreadable setting") << QStringList{"Réglages/Carillons=abc"} << "Carillons" << false
                                            << false;
    }

    void loadStopsAtAValueOutOfItsDomain()
    {
        QFETCH(QStringList, stored);
        QFETCH(QString, named);
        QFETCH(bool, visibilityShown);
        QFETCH(bool, boundsShown);
        h->store.set(stored);
        frmConfig &form = h->open();

        QCOMPARE(h->messages.shown.size(), size_t(1));
        const ShownMessage &message = h->messages.shown.front();
        QCOMPARE(message.caption, QStringLiteral("TintarelPanel"));
        QCOMPARE(message.buttons, MessageBox::Buttons::Ok);
        QVERIFY2(message.text.startsWith(QStringLiteral("Survenue d'une erreur : ")), qPrintable(message.text));
        QVERIFY2(message.text.contains(named), qPrintable(message.text));
        QCOMPARE(selected(form.optVisi) >= 0, visibilityShown);
        QCOMPARE(form.lblPos[0]->text() != QStringLiteral("Label5"), boundsShown);
        // The rest of the load is skipped: no help file, and F1 does nothing.
        QVERIFY(form.helpFile().isEmpty());
        QVERIFY(form.isVisible());
        form.cmdAnnuler->setFocus();
        QTest::keyClick(form.cmdAnnuler, Qt::Key_F1);
        QVERIFY(!form.helpWindow());
        QCOMPARE(h->messages.shown.size(), size_t(1));
    }

    void commandLineDecidesTheRestart_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<bool>("running");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<bool>("restart");

        QTest::newRow("started by the clock, which is still there")
            << "AffichHorloge" << true << QStringList{"find"} << true;
        QTest::newRow("started by the clock, which is gone") << "AffichHorloge" << false << QStringList{"find"}
                                                             << true;
        QTest::newRow("by the user while the clock runs") << "" << true << QStringList{"find", "close"} << true;
        QTest::newRow("by the user, no clock") << "" << false << QStringList{"find"} << false;
        QTest::newRow("other letter case, clock running")
            << "affichhorloge" << true << QStringList{"find", "close"} << true;
        QTest::newRow("other letter case, no clock") << "AFFICHHORLOGE" << false << QStringList{"find"} << false;
        QTest::newRow("further text after it") << "AffichHorloge 1" << false << QStringList{"find"} << false;
        QTest::newRow("leading blank") << " AffichHorloge" << true << QStringList{"find", "close"} << true;
    }

    void commandLineDecidesTheRestart()
    {
        QFETCH(QString, arguments);
        QFETCH(bool, running);
        QFETCH(QStringList, calls);
        QFETCH(bool, restart);
        h->clock.running = running;
        int readsAtClose = -1;
        h->clock.onClose = [&] { readsAtClose = h->store.reads; };
        frmConfig &form = h->open(arguments, false);
        QCOMPARE(h->clock.calls, calls);
        QCOMPARE(form.RestartClock, restart);
        // The settings are read only once the clock is down.
        if (calls.contains(QStringLiteral("close")))
            QCOMPARE(readsAtClose, 0);
        QVERIFY(h->store.reads > 0);
    }

    void okStoresEachSettingInItsOrder()
    {
        QStringList &journal = h->store.writes;
        h->library.journal = &journal;
        h->store.set({"Réglages/Carillons=2", "Réglages/Visibilité=1", "Réglages/StartPos=2",
                      "Position/Left=3000", "Position/Top=1500"});
        frmConfig &form = h->open();
        click(form.chkDémarrage);
        click(form.chkCalendrier);
        click(form.chkPlage);
        form.dtpDeb->setTime(QTime(8, 15, 0));
        form.dtpFin->setTime(QTime(21, 5, 0));
        click(form.optVisi[3]);
        click(form.optCarillon[3]);
        click(form.cmdFond[2]);
        h->messages.answers = {MessageBox::Answer::No};
        click(form.cmdOk);

        const QStringList expected{"Réglages/Carillons=3", "Réglages/Visibilité=3", "Run+",
                                   "Réglages/EnumHeures=1", "Réglages/Veille=1", "Réglages/Calendrier=1",
                                   "Plage/Check=1", "Plage/Debut=08:15:00", "Plage/Fin=21:05:00",
                                   "Réglages/Activer=1", "Réglages/ForeColor=-2147483630",
                                   "Réglages/BackColor=-2147483633", "Réglages/StartPos=2", "Position/Top=1500",
                                   "Position/Left=3000"};
        QCOMPARE(journal, expected);
        QVERIFY(!form.isVisible());
        // Nothing ran at start-up: the user is asked, and said No.
        QCOMPARE(h->messages.texts(), QStringList{"Voulez-vous démarrer l'horloge à carillon ? "});
        QVERIFY(!h->clock.calls.contains(QStringLiteral("start")));
    }

    void okConvertsThePositionForModesOneAndTwo_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("horizontal");
        QTest::addColumn<QString>("vertical");
        QTest::addColumn<QString>("written");

        QTest::newRow("mode 0 leaves the position") << 0 << "" << "" << "";
        QTest::newRow("mode 1") << 1 << "100" << "50" << "Position/Top=750;Position/Left=1500";
        QTest::newRow("mode 2") << 2 << "100" << "50" << "Position/Top=750;Position/Left=1500";
        QTest::newRow("mode 2 at the origin") << 2 << "0" << "0" << "Position/Top=0;Position/Left=0";
        QTest::newRow("largest that fits") << 2 << "2184" << "2160" << "Position/Top=32400;Position/Left=32760";
    }

    void okConvertsThePositionForModesOneAndTwo()
    {
        QFETCH(int, mode);
        QFETCH(QString, horizontal);
        QFETCH(QString, vertical);
        QFETCH(QString, written);
        frmConfig &form = h->open();
        click(form.optPlace[size_t(mode)]);
        if (mode != 0) {
            for (int i = 0; i < 2; ++i) {
                QLineEdit *field = form.txtPos[size_t(i)];
                field->setFocus();
                field->selectAll();
                QTest::keyClicks(field, i == 0 ? horizontal : vertical);
            }
        }
        click(form.cmdOk);
        QVERIFY(h->messages.texts().filter(QStringLiteral("non valide")).isEmpty());
        QCOMPARE(storedWrites(h->store.writes, QStringLiteral("Position/")), written);
        QVERIFY(h->store.writes.contains(QStringLiteral("Réglages/StartPos=%1").arg(mode)));
        QVERIFY(!form.isVisible());
    }

    void okStoresAPlaceRightOf2184Pixels()
    {
        frmConfig &form = h->open();
        click(form.optPlace[2]);
        form.txtPos[0]->setFocus();
        form.txtPos[0]->selectAll();
        QTest::keyClicks(form.txtPos[0], QStringLiteral("3000"));
        click(form.cmdOk);
        QVERIFY(h->messages.texts().filter(QStringLiteral("trop loin")).isEmpty());
        QVERIFY(h->store.writes.contains(QStringLiteral("Position/Left=45000")));
        QVERIFY(!form.isVisible());
    }

    void okValidatesAnEditedFieldFirst()
    {
        frmConfig &form = h->open();
        click(form.optPlace[1]);
        form.txtPos[1]->setFocus();
        form.txtPos[1]->selectAll();
        QTest::keyClick(form.txtPos[1], Qt::Key_Backspace);
        // "OK" run without the focus leaving the field.
        form.cmdOk_Click();
        QCOMPARE(h->messages.texts(), QStringList{"Valeur de position non valide."});
        QVERIFY(h->store.writes.isEmpty());
        QVERIFY(form.isVisible());
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
        QTest::newRow("Aucun and Jamais with chimes off") << 0 << 0 << false << MessageBox::Answer::No << true
                                                          << false;
        QTest::newRow("Aucun while chiming") << 0 << 1 << true << MessageBox::Answer::No << false << true;
        QTest::newRow("Tous and Jamais with chimes off") << 3 << 0 << false << MessageBox::Answer::No << false
                                                         << true;
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

        const QString guard = QStringLiteral(
            "Les réglages que vous avez choisis font que l'horloge ne sera jamais audible ni jamais visible\n\n"
            "Vous pouvez si vous le voulez désinstaller l'horloge à carillon en sélectionnant ce nom dans "
            "\"Ajout/Suppression de programmes\" du panneau de configuration.\n\n"
            "Etes-vous sûr de vouloir conserver ces réglages ? ");
        const bool guardShown = !h->messages.shown.empty() && h->messages.shown[0].text == guard;
        QCOMPARE(guardShown, asked);
        if (asked) {
            QCOMPARE(h->messages.shown[0].caption, QStringLiteral("Configuration de l'horloge"));
            QCOMPARE(h->messages.shown[0].buttons, MessageBox::Buttons::YesNo);
            QCOMPARE(h->messages.shown[0].icon, MessageBox::Icon::None);
        }
        QCOMPARE(!h->store.writes.isEmpty(), stored);
        QCOMPARE(form.isVisible(), !stored);
        if (stored)
            QVERIFY(h->store.writes.contains(QStringLiteral("Réglages/Visibilité=%1").arg(visibility)));
    }

    void everyUnloadSilencesTheAuditionAndRestartsTheClock_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("running");
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<MessageBox::Answer>("answer");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<bool>("started");

        const QString question = QStringLiteral("Voulez-vous démarrer l'horloge à carillon ? ");
        QTest::newRow("Annuler after taking the clock down")
            << "Annuler" << true << QStringList() << MessageBox::Answer::No << QStringList() << true;
        QTest::newRow("close button, no clock, Aucun and Jamais stored")
            << "close" << false << QStringList{"Réglages/Carillons=0", "Réglages/Visibilité=0"}
            << MessageBox::Answer::Yes << QStringList() << false;
        QTest::newRow("close button, no clock, Aucun while chiming")
            << "close" << false << QStringList{"Réglages/Carillons=0", "Réglages/Visibilité=1"}
            << MessageBox::Answer::Yes << QStringList{question} << true;
        QTest::newRow("Annuler, no clock, answered No")
            << "Annuler" << false << QStringList() << MessageBox::Answer::No << QStringList{question} << false;
        QTest::newRow("OK, no clock, answered Yes")
            << "OK" << false << QStringList() << MessageBox::Answer::Yes << QStringList{question} << true;
    }

    void everyUnloadSilencesTheAuditionAndRestartsTheClock()
    {
        QFETCH(QString, how);
        QFETCH(bool, running);
        QFETCH(QStringList, stored);
        QFETCH(MessageBox::Answer, answer);
        QFETCH(QStringList, messages);
        QFETCH(bool, started);
        h->clock.running = running;
        h->store.set(stored);
        h->messages.answers = {answer};
        frmConfig &form = h->open();
        h->player.log.clear();
        DisplayObserver windowManager(QString::fromLocal8Bit(qgetenv("DISPLAY")));
        if (how == QLatin1String("Annuler"))
            click(form.cmdAnnuler);
        else if (how == QLatin1String("OK"))
            click(form.cmdOk);
        else
            windowManager.requestClose(quint32(form.winId()));
        QTRY_VERIFY(!form.isVisible());
        QCOMPARE(h->player.log.mid(0, 2), (QStringList{"Stop", "Close"}));
        QCOMPARE(h->messages.texts(), messages);
        for (const ShownMessage &m : h->messages.shown)
            QCOMPARE(m.caption, QStringLiteral("Configuration de l'horloge"));
        QCOMPARE(h->clock.calls.contains(QStringLiteral("start")), started);
        if (how != QLatin1String("OK"))
            QVERIFY(h->store.writes.isEmpty());
    }

    void aClockThatCannotStartIsTold()
    {
        h->clock.running = true;
        h->clock.startFails = true;
        frmConfig &form = h->open();
        click(form.cmdAnnuler);
        QCOMPARE(h->messages.shown.size(), size_t(1));
        QCOMPARE(h->messages.shown[0].caption, QStringLiteral("TintarelPanel"));
        QVERIFY(h->messages.shown[0].text.contains(QStringLiteral("programme introuvable")));
    }

    void unreadableSettingsAreNeverStored_data()
    {
        QTest::addColumn<bool>("running");
        QTest::newRow("clock taken down") << true;
        QTest::newRow("no clock") << false;
    }

    void unreadableSettingsAreNeverStored()
    {
        QFETCH(bool, running);
        h->clock.running = running;
        h->store.set({"Position/Top=99999999999"});
        frmConfig &form = h->open();
        QCOMPARE(h->messages.shown.size(), size_t(1));
        click(form.cmdOk);
        QVERIFY(!form.isVisible());
        QVERIFY(h->store.writes.isEmpty());
        QCOMPARE(h->messages.shown.size(), size_t(2));
        QVERIFY(h->messages.shown[1].text.contains(QStringLiteral("n'ont pas pu être lus")));
        QCOMPARE(h->clock.calls.contains(QStringLiteral("start")), running);
    }

    void aFailedWriteStopsTheStoringAndKeepsTheDialog()
    {
        h->store.refuse = QStringLiteral("Plage/Check");
        frmConfig &form = h->open();
        click(form.cmdOk);
        QCOMPARE(h->store.writes.last(), QStringLiteral("Réglages/Calendrier=0"));
        QVERIFY(form.isVisible());
        QCOMPARE(h->messages.shown.size(), size_t(1));
        QVERIFY(h->messages.shown[0].text.contains(QStringLiteral("Plage")));
    }

    void aGreyedBoxIsNeverGreyedAgainByClicks()
    {
        h->store.set({"Réglages/Calendrier=2"});
        frmConfig &form = h->open();
        QCOMPARE(form.chkCalendrier->checkState(), Qt::PartiallyChecked);
        QList<int> values;
        for (int i = 0; i < 4; ++i) {
            click(form.chkCalendrier);
            values << form.chkCalendrier->value();
        }
        QCOMPARE(values, (QList<int>{1, 0, 1, 0}));
    }

    void helpKeyOpensTheControlsTopic_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("topic");
        QTest::newRow("start with the session") << "chkDémarrage" << 10;
        QTest::newRow("audition") << "cmdPlay" << 20;
        QTest::newRow("chimes switch") << "chkActiver" << 30;
        QTest::newRow("range start") << "dtpDeb" << 52;
        QTest::newRow("range end") << "dtpFin" << 54;
        QTest::newRow("hour strikes") << "chkNbHeures" << 60;
        QTest::newRow("always but the saver") << "optVisi(3)" << 70;
        QTest::newRow("date") << "chkCalendrier" << 80;
        QTest::newRow("vertical field") << "txtPos(1)" << 130;
        QTest::newRow("mini clock") << "picHor" << 150;
        QTest::newRow("default colours") << "cmdFond(2)" << 170;
    }

    void helpKeyOpensTheControlsTopic()
    {
        QFETCH(QString, control);
        QFETCH(int, topic);
        h->store.set({"Réglages/StartPos=2", "Plage/Check=1"});
        frmConfig &form = h->open();
        const QMap<QString, QWidget *> controls{
            {"chkDémarrage", form.chkDémarrage}, {"cmdPlay", form.cmdPlay},       {"chkActiver", form.chkActiver},
            {"dtpDeb", form.dtpDeb},             {"dtpFin", form.dtpFin},         {"chkNbHeures", form.chkNbHeures},
            {"optVisi(3)", form.optVisi[3]},     {"chkCalendrier", form.chkCalendrier},
            {"txtPos(1)", form.txtPos[1]},       {"picHor", form.picHor},         {"cmdFond(2)", form.cmdFond[2]}};
        QWidget *target = controls.value(control);
        target->setFocus();
        QTRY_VERIFY(target->hasFocus() || target->isAncestorOf(QApplication::focusWidget()));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);

        HelpWindow *help = form.helpWindow();
        QVERIFY(help && help->isVisible());
        QCOMPARE(help->topic(), topic);
        QCOMPARE(form.helpFile(), QStringLiteral(TINTAREL_PROGRAM_DIR "/Tintarel.hlp"));
        const QUrl source = help->browser()->source();
        QCOMPARE(source.fragment(), HelpWindow::anchor(topic));
        QVERIFY(anchorsOf(help->browser()->document()).contains(HelpWindow::anchor(topic)));
        QVERIFY(h->messages.shown.empty());
    }

    void helpFileHasEveryTopic()
    {
        HelpWindow help;
        QVERIFY(help.showTopic(QStringLiteral(TINTAREL_PROGRAM_DIR "/Tintarel.hlp"), 10));
        const QStringList anchors = anchorsOf(help.browser()->document());
        for (int topic : {10, 20, 30, 40, 50, 52, 54, 60, 70, 80, 90, 100, 110, 120, 130, 140, 150, 160, 170})
            QVERIFY2(anchors.contains(HelpWindow::anchor(topic)), qPrintable(QString::number(topic)));
        QVERIFY(help.browser()->toPlainText().contains(QStringLiteral("Activer les carillons")));
    }
};

PANEL_TEST_MAIN(tst_DialogLoad, "3840x2160x24")

#include "tst_dialogload.moc"
