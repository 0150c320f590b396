#include "CheckBox.h"
#include "Configuration.h"
#include "IniSettingsStore.h"
#include "PanelFakes.h"
#include "SystemColours.h"

#include <QColorDialog>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTimeEdit>
#include <QtTest>

// The live chime options, the colours of the sample and the audition.
class tst_ChimeOptions : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DialogHarness> h;

    static QWidget *control(frmConfig &form, const QString &name)
    {
        const QMap<QString, QWidget *> controls{
            {"chkActiver", form.chkActiver},   {"chkPlage", form.chkPlage},
            {"chkVeille", form.chkVeille},     {"chkNbHeures", form.chkNbHeures},
            {"Aucun", form.optCarillon[0]},    {"Heures", form.optCarillon[1]},
            {"Tous", form.optCarillon[3]},     {"dtpDeb", form.dtpDeb},
            {"dtpFin", form.dtpFin},           {"Label2", form.Label2},
            {"cboCar", form.cboCar},           {"cmdPlay", form.cmdPlay}};
        return controls.value(name);
    }

    static QColor shownColour(QLabel *label, QPalette::ColorRole role) { return label->palette().color(role); }

private Q_SLOTS:
    void init() { h = std::make_unique<DialogHarness>(); }
    void cleanup() { h.reset(); }

    void enabledStatesFollowTheClicks_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QStringList>("clicks");
        // Controls that end enabled; the others of the list below end disabled.
        QTest::addColumn<QStringList>("enabled");
        // Values of chkNbHeures and chkVeille at the end.
        QTest::addColumn<QList<int>>("values");

        const QStringList all{"chkPlage", "chkVeille", "chkNbHeures", "Aucun", "Tous", "dtpDeb", "dtpFin", "Label2"};
        QTest::newRow("defaults") << QStringList() << QStringList()
                                  << QStringList{"chkPlage", "chkVeille", "chkNbHeures", "Aucun", "Tous", "Label2"}
                                  << QList<int>{1, 1};
        QTest::newRow("range checked") << QStringList() << QStringList{"chkPlage"} << all << QList<int>{1, 1};
        QTest::newRow("chimes off") << QStringList() << QStringList{"chkActiver"} << QStringList()
                                    << QList<int>{1, 1};
        QTest::newRow("chimes off with the range checked keep the pickers")
            << QStringList() << QStringList{"chkPlage", "chkActiver"} << QStringList{"dtpDeb", "dtpFin"}
            << QList<int>{1, 1};
        QTest::newRow("chimes off and on again")
            << QStringList() << QStringList{"chkActiver", "chkActiver"}
            << QStringList{"chkPlage", "chkVeille", "chkNbHeures", "Aucun", "Tous", "Label2"} << QList<int>{1, 1};
        QTest::newRow("Aucun clears and disables") << QStringList() << QStringList{"Aucun"}
                                                   << QStringList{"chkPlage", "Aucun", "Tous", "Label2"}
                                                   << QList<int>{0, 0};
        QTest::newRow("Aucun, then chimes off and on")
            << QStringList() << QStringList{"Aucun", "chkActiver", "chkActiver"}
            << QStringList{"chkPlage", "chkVeille", "chkNbHeures", "Aucun", "Tous", "Label2"} << QList<int>{0, 0};
        QTest::newRow("Aucun, then Heures keeps them cleared")
            << QStringList() << QStringList{"Aucun", "Heures"}
            << QStringList{"chkPlage", "chkVeille", "chkNbHeures", "Aucun", "Tous", "Label2"} << QList<int>{0, 0};
        QTest::newRow("greyed range leaves the pickers as the switch set them")
            << QStringList{"Plage/Check=2"} << QStringList{"chkActiver"} << QStringList() << QList<int>{1, 1};
        QTest::newRow("greyed range, switch back on")
            << QStringList{"Plage/Check=2"} << QStringList{"chkActiver", "chkActiver"} << all << QList<int>{1, 1};
        QTest::newRow("greyed switch counts as on, then off")
            << QStringList{"Réglages/Activer=2"} << QStringList{"chkActiver"}
            << QStringList{"chkPlage", "chkVeille", "chkNbHeures", "Aucun", "Tous", "Label2"} << QList<int>{1, 1};
    }

    void enabledStatesFollowTheClicks()
    {
        QFETCH(QStringList, stored);
        QFETCH(QStringList, clicks);
        QFETCH(QStringList, enabled);
        QFETCH(QList<int>, values);
        h->store.set(stored);
        frmConfig &form = h->open();
        for (const QString &name : clicks)
            click(control(form, name));

        QStringList isEnabled;
        for (const char *name : {"chkPlage", "chkVeille", "chkNbHeures", "Aucun", "Tous", "dtpDeb", "dtpFin", "Label2"})
            if (control(form, QString::fromLatin1(name))->isEnabled())
                isEnabled << QString::fromLatin1(name);
        QCOMPARE(isEnabled, enabled);
        QCOMPARE(form.dtpFin->isEnabled(), form.dtpDeb->isEnabled());
        QCOMPARE((QList<int>{form.chkNbHeures->value(), form.chkVeille->value()}), values);
        // The audition frame is never touched by the switch.
        QVERIFY(form.cboCar->isEnabled() && form.cmdPlay->isEnabled());
        if (clicks.contains(QStringLiteral("Aucun")) && !clicks.contains(QStringLiteral("Heures")))
            QVERIFY(form.optCarillon[0]->isChecked());
    }

    void coloursAreChosenOnTheSampleOnly()
    {
        h->store.set({"Réglages/ForeColor=0", "Réglages/BackColor=16777215"});
        frmConfig &form = h->open();
        h->colours.answers = {QColor(255, 0, 0), std::nullopt, QColor(0, 0, 255)};
        click(form.cmdFond[0]);
        QCOMPARE(form.demoForeColor(), 0x0000FFu);
        click(form.cmdFond[1]); // cancelled
        QCOMPARE(form.demoBackColor(), 0xFFFFFFu);
        click(form.cmdFond[1]);
        QCOMPARE(form.demoBackColor(), 0xFF0000u);
        QCOMPARE(h->colours.asked, 3);
        QCOMPARE(shownColour(form.lblDemo, QPalette::WindowText), QColor(255, 0, 0));
        QCOMPARE(shownColour(form.lblDemo, QPalette::Window), QColor(0, 0, 255));
        // The preview clock keeps the colours read at start-up.
        QCOMPARE(shownColour(form.lblHorloge, QPalette::WindowText), QColor(0, 0, 0));
        QCOMPARE(shownColour(form.lblHorloge, QPalette::Window), QColor(255, 255, 255));

        click(form.cmdOk);
        QVERIFY(h->store.writes.contains(QStringLiteral("Réglages/ForeColor=255")));
        QVERIFY(h->store.writes.contains(QStringLiteral("Réglages/BackColor=16711680")));
    }

    void defaultColoursAreStoredAsSystemColourReferences()
    {
        QTemporaryDir config;
        IniSettingsStore store(config.path() + QStringLiteral("/Tintarel/Tintarel.ini"));
        QVERIFY(store.write(QStringLiteral("Réglages"), QStringLiteral("ForeColor"), QStringLiteral("255")));
        QVERIFY(store.write(QStringLiteral("Réglages"), QStringLiteral("BackColor"), QStringLiteral("65280")));
        FakeMessageBox messages;
        frmConfig form({messages, h->clock, h->player, h->colours, store, &h->library, h->folder, {}, {}});
        form.Load(QString());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        click(form.cmdFond[2]);
        QCOMPARE(shownColour(form.lblDemo, QPalette::WindowText),
                 colourFromValue(Configuration::defaultForeColor, QApplication::palette()));
        QCOMPARE(shownColour(form.lblDemo, QPalette::Window),
                 colourFromValue(Configuration::defaultBackColor, QApplication::palette()));
        QCOMPARE(shownColour(form.lblHorloge, QPalette::Window), QColor(0, 255, 0));
        click(form.cmdOk);

        QSettings file(store.location(), QSettings::IniFormat);
        QCOMPARE(file.value(QStringLiteral("Réglages/ForeColor")).toString(), QStringLiteral("-2147483630"));
        QCOMPARE(file.value(QStringLiteral("Réglages/BackColor")).toString(), QStringLiteral("-2147483633"));
        // What an empty store yields.
        RecordingStore empty;
        const auto defaults = Configuration::create(empty, nullptr, &h->library);
        QCOMPARE(defaults->ForeColor(), 0x80000012u);
        QCOMPARE(defaults->BackColor(), 0x8000000Fu);
    }

    void colourDialogStartsOnTheLastColourItReturned()
    {
        QtColourChooser chooser;
        QList<QColor> opened;
        const auto answer = [&opened](std::optional<QColor> colour) {
            QTimer::singleShot(0, [&opened, colour] {
                auto *dialog = qobject_cast<QColorDialog *>(QApplication::activeModalWidget());
                if (!dialog)
                    return;
                opened << dialog->currentColor();
                if (colour) {
                    dialog->setCurrentColor(*colour);
                    dialog->accept();
                } else {
                    dialog->reject();
                }
            });
        };
        // A modal dialog has its own loop: answer it once it shows.
        const auto chooseAnswering = [&](std::optional<QColor> colour) {
            QTimer poll;
            poll.setInterval(20);
            bool answered = false;
            connect(&poll, &QTimer::timeout, [&] {
                if (!answered && qobject_cast<QColorDialog *>(QApplication::activeModalWidget())) {
                    answered = true;
                    answer(colour);
                }
            });
            poll.start();
            return chooser.choose(nullptr);
        };
        QCOMPARE(chooseAnswering(QColor(10, 20, 30)), std::optional<QColor>(QColor(10, 20, 30)));
        QCOMPARE(chooseAnswering(std::nullopt), std::optional<QColor>());
        QCOMPARE(chooseAnswering(QColor(200, 100, 0)), std::optional<QColor>(QColor(200, 100, 0)));
        QCOMPARE(opened, (QList<QColor>{QColor(Qt::black), QColor(10, 20, 30), QColor(10, 20, 30)}));
    }

    void quatreHeuresPlaysTheMelodyThenTheStrikes()
    {
        int yields = 0;
        h->yield = [&yields] { ++yields; };
        frmConfig &form = h->open();
        h->player.log.clear();
        QCOMPARE(form.playImage(), QStringLiteral("Play"));
        click(form.cmdPlay);
        const QString folder = QStringLiteral(TINTAREL_PROGRAM_DIR);
        QCOMPARE(h->player.fileName(), folder + QStringLiteral("/Carill1.mp3"));
        QCOMPARE(h->player.log, (QStringList{"DeviceType=MPEGVideo", "FileName=Carill1.mp3", "Close", "Open",
                                             "Notify", "Play"}));
        QCOMPARE(form.AuditionState(), 2);
        QCOMPARE(form.playImage(), QStringLiteral("Stop"));

        h->player.log.clear();
        h->player.complete(ChimePlayer::NotifySuccessful);
        QCOMPARE(yields, 1);
        QCOMPARE(h->player.fileName(), folder + QStringLiteral("/CarillH4.mp3"));
        QCOMPARE(h->player.log, (QStringList{"DeviceType=MPEGVideo", "FileName=CarillH4.mp3", "Close", "Open",
                                             "Notify", "Play"}));
        QCOMPARE(form.AuditionState(), 3);
        QCOMPARE(form.playImage(), QStringLiteral("Stop"));

        h->player.log.clear();
        h->player.complete(ChimePlayer::NotifySuccessful);
        QCOMPARE(h->player.log, QStringList{"Close"});
        QCOMPARE(form.AuditionState(), 0);
        QCOMPARE(form.playImage(), QStringLiteral("Play"));
    }

    void eachEntryPlaysItsFile_data()
    {
        QTest::addColumn<int>("entry");
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("state");
        QTest::newRow("Quatre heures") << 0 << "Carill1.mp3" << 2;
        QTest::newRow("Le quart") << 1 << "Carill2.mp3" << 1;
        QTest::newRow("La demie") << 2 << "Carill3.mp3" << 1;
        QTest::newRow("Moins le quart") << 3 << "Carill4.mp3" << 1;
    }

    void eachEntryPlaysItsFile()
    {
        QFETCH(int, entry);
        QFETCH(QString, file);
        QFETCH(int, state);
        frmConfig &form = h->open();
        QCOMPARE(form.cboCar->count(), 4);
        form.cboCar->setCurrentIndex(entry);
        click(form.cmdPlay);
        QCOMPARE(h->player.files(), QStringList{file});
        QCOMPARE(form.AuditionState(), state);
        if (state == 1) {
            h->player.complete(ChimePlayer::NotifySuccessful);
            QCOMPARE(form.AuditionState(), 0);
            QCOMPARE(form.playImage(), QStringLiteral("Play"));
            QCOMPARE(h->player.files(), QStringList{file});
        }
    }

    void stopDuringTheMelodyPlaysNoStrikes()
    {
        frmConfig &form = h->open();
        click(form.cmdPlay);
        h->player.log.clear();
        click(form.cmdPlay);
        QCOMPARE(h->player.log, QStringList{"Stop"});
        QCOMPARE(form.AuditionState(), 0);
        QCOMPARE(form.playImage(), QStringLiteral("Play"));
        h->player.complete(ChimePlayer::NotifyAborted);
        QCOMPARE(h->player.files(), QStringList());
        QCOMPARE(form.AuditionState(), 0);
    }

    void stopDuringTheYieldPlaysNoStrikes()
    {
        DialogHarness &harness = *h;
        h->yield = [&harness] { harness.form->cmdPlay->click(); };
        frmConfig &form = h->open();
        click(form.cmdPlay);
        h->player.log.clear();
        h->player.complete(ChimePlayer::NotifySuccessful);
        QCOMPARE(h->player.files(), QStringList());
        QCOMPARE(form.AuditionState(), 0);
        QCOMPARE(form.playImage(), QStringLiteral("Play"));
    }

    void aCompletionOtherThanSuccessReturnsToIdle_data()
    {
        QTest::addColumn<int>("entry");
        QTest::addColumn<int>("successes");
        QTest::addColumn<int>("code");
        QTest::newRow("single chime superseded") << 1 << 0 << int(ChimePlayer::NotifySuperseded);
        QTest::newRow("single chime failed") << 3 << 0 << int(ChimePlayer::NotifyFailure);
        QTest::newRow("melody aborted") << 0 << 0 << int(ChimePlayer::NotifyAborted);
        QTest::newRow("melody failed") << 0 << 0 << int(ChimePlayer::NotifyFailure);
        QTest::newRow("strikes failed") << 0 << 1 << int(ChimePlayer::NotifyFailure);
    }

    void aCompletionOtherThanSuccessReturnsToIdle()
    {
        QFETCH(int, entry);
        QFETCH(int, successes);
        QFETCH(int, code);
        frmConfig &form = h->open();
        form.cboCar->setCurrentIndex(entry);
        click(form.cmdPlay);
        for (int i = 0; i < successes; ++i)
            h->player.complete(ChimePlayer::NotifySuccessful);
        h->player.log.clear();
        h->player.complete(code);
        QCOMPARE(form.AuditionState(), 0);
        QCOMPARE(form.playImage(), QStringLiteral("Play"));
        QCOMPARE(h->player.log, QStringList());
        // A late success after that neither plays nor closes anything.
        h->player.complete(ChimePlayer::NotifySuccessful);
        QCOMPARE(h->player.log, QStringList());
        QCOMPARE(form.AuditionState(), 0);
    }

    void failedPlayerCommandsAreIgnored()
    {
        h->player.failCommands = true;
        frmConfig &form = h->open();
        click(form.cmdPlay);
        QVERIFY(h->messages.shown.empty());
        QCOMPARE(form.AuditionState(), 2);
        QCOMPARE(form.playImage(), QStringLiteral("Stop"));
        click(form.cmdPlay);
        QCOMPARE(form.AuditionState(), 0);
        QCOMPARE(form.playImage(), QStringLiteral("Play"));
    }

    void unloadStopsAndClosesThePlayer()
    {
        frmConfig &form = h->open();
        click(form.cmdPlay);
        h->player.log.clear();
        click(form.cmdAnnuler);
        QCOMPARE(h->player.log.mid(0, 2), (QStringList{"Stop", "Close"}));
    }

    void realPlayerChainsTheMelodyAndTheStrikes()
    {
        const auto player = makeChimePlayer();
        FakeMessageBox messages;
        frmConfig form({messages, h->clock, *player, h->colours, h->store, &h->library,
                        QStringLiteral(TINTAREL_PROGRAM_DIR), {}, {}});
        form.Load(QString());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        click(form.cmdPlay);
        QCOMPARE(form.AuditionState(), 2);
        QCOMPARE(player->mode(), ChimePlayer::ModePlaying);
        // Carill1.mp3 lasts 14.5 s and CarillH4.mp3 14 s, played in real time.
        QTRY_COMPARE_WITH_TIMEOUT(form.AuditionState(), 3, 20000);
        QVERIFY(player->fileName().endsWith(QStringLiteral("/CarillH4.mp3")));
        QCOMPARE(form.playImage(), QStringLiteral("Stop"));
        QTRY_COMPARE_WITH_TIMEOUT(form.AuditionState(), 0, 20000);
        QCOMPARE(form.playImage(), QStringLiteral("Play"));
        QCOMPARE(player->mode(), ChimePlayer::ModeNotOpen);
        QVERIFY(messages.shown.empty());
    }

    void realPlayerStoppedDuringTheMelody()
    {
        const auto player = makeChimePlayer();
        FakeMessageBox messages;
        frmConfig form({messages, h->clock, *player, h->colours, h->store, &h->library,
                        QStringLiteral(TINTAREL_PROGRAM_DIR), {}, {}});
        form.Load(QString());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        click(form.cmdPlay);
        QCOMPARE(player->mode(), ChimePlayer::ModePlaying);
        click(form.cmdPlay);
        QCOMPARE(form.AuditionState(), 0);
        QCOMPARE(player->mode(), ChimePlayer::ModeStopped);
        QCOMPARE(form.playImage(), QStringLiteral("Play"));
        QVERIFY(player->fileName().endsWith(QStringLiteral("/Carill1.mp3")));
    }

    void missingSoundFilesLeaveTheButtonOnStop()
    {
        const auto player = makeChimePlayer();
        FakeMessageBox messages;
        QTemporaryDir empty;
        frmConfig form({messages, h->clock, *player, h->colours, h->store, &h->library, empty.path(), {}, {}});
        form.Load(QString());
        form.cboCar->setCurrentIndex(2);
        form.cmdPlay_Click();
        QCOMPARE(form.AuditionState(), 1);
        QCOMPARE(form.playImage(), QStringLiteral("Stop"));
        QVERIFY(messages.shown.empty());
    }
};

PANEL_TEST_MAIN(tst_ChimeOptions, "1280x1024x24")

#include "tst_chimeoptions.moc"
