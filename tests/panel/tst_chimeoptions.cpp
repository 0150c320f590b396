#include "CheckBox.h"
#include "PanelFakes.h"

#include <QColorDialog>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
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
            {"chkActiver", form.chkActiver}, {"chkPlage", form.chkPlage},     {"chkVeille", form.chkVeille},
            {"chkNbHeures", form.chkNbHeures}, {"Aucun", form.optCarillon[0]}, {"Heures", form.optCarillon[1]},
            {"Tous", form.optCarillon[3]},   {"dtpDeb", form.dtpDeb}};
        return controls.value(name);
    }

private Q_SLOTS:
    void init() { h = std::make_unique<DialogHarness>(); }
    void cleanup() { h.reset(); }

    void enabledStatesFollowTheClicks_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QStringList>("clicks");
        // Controls that end enabled; the others of the list end disabled.
        QTest::addColumn<QStringList>("enabled");
        // chkNbHeures and chkVeille at the end.
        QTest::addColumn<QList<int>>("values");
        const QStringList chimesOn{"chkPlage", "chkVeille", "chkNbHeures", "Aucun", "Tous"};
        QTest::newRow("range checked") << QStringList() << QStringList{"chkPlage"} << chimesOn + QStringList{"dtpDeb"}
                                       << QList<int>{1, 1};
        QTest::newRow("chimes off keep the pickers of a checked range")
            << QStringList() << QStringList{"chkPlage", "chkActiver"} << QStringList{"dtpDeb"} << QList<int>{1, 1};
        QTest::newRow("chimes off and on again")
            << QStringList() << QStringList{"chkActiver", "chkActiver"} << chimesOn << QList<int>{1, 1};
        QTest::newRow("Aucun clears and disables")
            << QStringList() << QStringList{"Aucun"} << QStringList{"chkPlage", "Aucun", "Tous"} << QList<int>{0, 0};
        QTest::newRow("Aucun, then Heures keeps them cleared")
            << QStringList() << QStringList{"Aucun", "Heures"} << chimesOn << QList<int>{0, 0};
        QTest::newRow("greyed range, switch off and on")
            << QStringList{"Plage/Check=2"} << QStringList{"chkActiver", "chkActiver"}
            << chimesOn + QStringList{"dtpDeb"} << QList<int>{1, 1};
        QTest::newRow("greyed switch counts as on, then off")
            << QStringList{"Réglages/Activer=2"} << QStringList{"chkActiver"} << chimesOn << QList<int>{1, 1};
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
        for (const char *name : {"chkPlage", "chkVeille", "chkNbHeures", "Aucun", "Tous", "dtpDeb"})
            if (control(form, QString::fromLatin1(name))->isEnabled())
                isEnabled << QString::fromLatin1(name);
        QCOMPARE(isEnabled, enabled);
        QCOMPARE(form.dtpFin->isEnabled(), form.dtpDeb->isEnabled());
        QCOMPARE((QList<int>{form.chkNbHeures->value(), form.chkVeille->value()}), values);
        // The switch never touches the audition.
        QVERIFY(form.cboCar->isEnabled() && form.cmdPlay->isEnabled());
    }

    void coloursAreChosenOnTheSampleOnly()
    {
        h->store.set({"Réglages/ForeColor=0", "Réglages/BackColor=16777215"});
        frmConfig &form = h->open();
        h->colours.answers = {QColor(255, 0, 0), std::nullopt, QColor(0, 0, 255)};
        click(form.cmdFond[0]);
        click(form.cmdFond[1]); // cancelled
        QCOMPARE(form.demoBackColor(), 0xFFFFFFu);
        click(form.cmdFond[1]);
        QCOMPARE(form.lblDemo->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QCOMPARE(form.lblDemo->palette().color(QPalette::Window), QColor(0, 0, 255));
        // The preview clock keeps the colours read at start-up.
        QCOMPARE(form.lblHorloge->palette().color(QPalette::Window), QColor(255, 255, 255));
        click(form.cmdOk);
        QVERIFY(h->store.writes.contains(QStringLiteral("Réglages/ForeColor=255")));
        QVERIFY(h->store.writes.contains(QStringLiteral("Réglages/BackColor=16711680")));
    }

    void colourDialogStartsOnTheLastColourItReturned()
    {
        QtColourChooser chooser;
        QList<QColor> opened;
        // The modal dialog runs its own loop: it is answered once it shows.
        const auto chooseAnswering = [&](std::optional<QColor> colour) {
            QTimer poll;
            connect(&poll, &QTimer::timeout, [&] {
                if (auto *dialog = qobject_cast<QColorDialog *>(QApplication::activeModalWidget())) {
                    poll.stop();
                    opened << dialog->currentColor();
                    dialog->setCurrentColor(colour.value_or(Qt::white));
                    colour ? dialog->accept() : dialog->reject();
                }
            });
            poll.start(20);
            return chooser.choose(nullptr);
        };
        QCOMPARE(chooseAnswering(QColor(10, 20, 30)), std::optional<QColor>(QColor(10, 20, 30)));
        QCOMPARE(chooseAnswering(std::nullopt), std::optional<QColor>());
        chooseAnswering(QColor(200, 100, 0));
        QCOMPARE(opened, (QList<QColor>{QColor(Qt::black), QColor(10, 20, 30), QColor(10, 20, 30)}));
    }

    void auditionPlaysAndWindsDown_data()
    {
        QTest::addColumn<int>("entry");
        // Completion notices delivered in turn; -1 stands for a click on Stop.
        QTest::addColumn<QList<int>>("notices");
        QTest::addColumn<QStringList>("files");
        // A player whose commands fail, or a click on Stop while the audition
        // lets the event loop run between the melody and the strikes.
        QTest::addColumn<QString>("trouble");
        const int ok = ChimePlayer::NotifySuccessful;
        QTest::newRow("Quatre heures: melody, then strikes")
            << 0 << QList<int>{ok, ok} << QStringList{"Carill1.mp3", "CarillH4.mp3"} << "";
        QTest::newRow("Le quart") << 1 << QList<int>{ok} << QStringList{"Carill2.mp3"} << "";
        QTest::newRow("Moins le quart") << 3 << QList<int>{ok} << QStringList{"Carill4.mp3"} << "";
        QTest::newRow("stopped during the melody")
            << 0 << QList<int>{-1, int(ChimePlayer::NotifyAborted), ok} << QStringList{"Carill1.mp3"} << "";
        QTest::newRow("single chime superseded")
            << 2 << QList<int>{int(ChimePlayer::NotifySuperseded), ok} << QStringList{"Carill3.mp3"} << "";
        QTest::newRow("melody failed")
            << 0 << QList<int>{int(ChimePlayer::NotifyFailure), ok} << QStringList{"Carill1.mp3"} << "";
        QTest::newRow("strikes failed") << 0 << QList<int>{ok, int(ChimePlayer::NotifyFailure), ok}
                                        << QStringList{"Carill1.mp3", "CarillH4.mp3"} << "";
        QTest::newRow("stopped between melody and strikes") << 0 << QList<int>{ok} << QStringList{"Carill1.mp3"}
                                                            << "stop in yield";
        QTest::newRow("failing player, stopped") << 0 << QList<int>{-1} << QStringList{"Carill1.mp3"} << "failing";
    }
    void auditionPlaysAndWindsDown()
    {
        QFETCH(int, entry);
        QFETCH(QList<int>, notices);
        QFETCH(QStringList, files);
        QFETCH(QString, trouble);
        h->player.failCommands = trouble == QLatin1String("failing");
        if (trouble == QLatin1String("stop in yield"))
            h->yield = [this] { h->form->cmdPlay->click(); };
        frmConfig &form = h->open();
        form.cboCar->setCurrentIndex(entry);
        click(form.cmdPlay);
        QCOMPARE(form.playImage(), QStringLiteral("Stop"));
        QVERIFY(form.AuditionState() != 0);
        for (int notice : notices) {
            if (notice < 0)
                click(form.cmdPlay);
            else
                h->player.complete(notice);
        }
        QCOMPARE(h->player.files, files);
        QCOMPARE(form.AuditionState(), 0);
        QCOMPARE(form.playImage(), QStringLiteral("Play"));
        QCOMPARE(h->player.commands.filter(QStringLiteral("Play")).size(), files.size());
        QVERIFY(h->messages.texts.isEmpty());
    }

    void realPlayerStoppedDuringTheMelody_data()
    {
        QTest::addColumn<bool>("filesThere");
        QTest::newRow("sound files beside the program") << true;
        QTest::newRow("no sound files") << false;
    }
    void realPlayerStoppedDuringTheMelody()
    {
        QFETCH(bool, filesThere);
        const auto player = makeChimePlayer();
        QTemporaryDir empty;
        frmConfig form(h->services(player.get(), filesThere ? QString() : empty.path()));
        form.Load(QString());
        form.cmdPlay_Click();
        QCOMPARE(form.playImage(), QStringLiteral("Stop"));
        QCOMPARE(form.AuditionState(), 2);
        if (filesThere) {
            QCOMPARE(player->mode(), ChimePlayer::ModePlaying);
            form.cmdPlay_Click();
            QCOMPARE(form.AuditionState(), 0);
            QCOMPARE(player->mode(), ChimePlayer::ModeStopped);
        }
        QVERIFY(h->messages.texts.isEmpty());
    }
};

int main(int argc, char **argv)
{
    return runPanelTest<tst_ChimeOptions>(argc, argv, "1280x1024x24");
}

#include "tst_chimeoptions.moc"
