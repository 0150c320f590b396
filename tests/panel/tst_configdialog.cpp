#include "CheckBox.h"
#include "ChimePlayer.h"
#include "ClockControl.h"
#include "ColourChooser.h"
#include "HelpWindow.h"
#include "MemorySettingsStore.h"
#include "MessageBox.h"
#include "MiniClock.h"
#include "ScreenPicture.h"
#include "StartupLibrary.h"
#include "SystemColours.h"
#include "TestDisplay.h"
#include "UpDown.h"
#include "frmConfig.h"

#include <QClipboard>
#include <QColorDialog>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimeEdit>
#include <QToolButton>
#include <QtTest>

namespace {

// Everything the dialog works with besides its own controls, recording what
// it was asked: message boxes, the running clock, the audition's player,
// the colour chooser, the settings and the start with the session.
class Fakes : public MessageBox, public ClockControl, public ChimePlayer, public ColourChooser,
              public MemorySettingsStore, public StartupLibrary
{
public:
    // Questions take the answers in turn, Y or N, and No once they run out.
    Answer show(const QString &, const QString &text, Icon, Buttons buttons) override
    {
        texts << text;
        if (buttons == Buttons::Ok)
            return Answer::Ok;
        const bool yes = answers.startsWith(u'Y');
        answers.remove(0, 1);
        return yes ? Answer::Yes : Answer::No;
    }

    bool find() override
    {
        clockCalls << QStringLiteral("find");
        return running;
    }
    void close() override
    {
        clockCalls << QStringLiteral("close");
        readsAtClose = reads;
        running = false;
    }
    void promiseRestart() override { clockCalls << QStringLiteral("promise"); }
    bool start(QString *error) override
    {
        clockCalls << QStringLiteral("start");
        *error = startError;
        return startError.isEmpty();
    }

    // A file that is not there is recorded with its whole path.
    void setFileName(const QString &name) override { files << (QFile::exists(name) ? QFileInfo(name).fileName() : name); }
    Result command(const QString &command) override
    {
        commands << command;
        return Result::Ok;
    }
    void setCompletionHandler(CompletionHandler handler) override { complete = std::move(handler); }
    void setDeviceType(const QString &) override {}
    QString deviceType() const override { return {}; }
    QString fileName() const override { return {}; }
    void setNotify(bool) override {}
    int mode() const override { return ModeStopped; }

    std::optional<QColor> choose(QWidget *) override { return colours.isEmpty() ? std::nullopt : colours.takeFirst(); }
    std::optional<QString> read(const QString &section, const QString &key) const override
    {
        ++reads;
        return MemorySettingsStore::read(section, key);
    }
    bool write(const QString &section, const QString &key, const QString &text) override
    {
        if (section + QLatin1Char('/') + key == refuse)
            return false;
        writes << section + QLatin1Char('/') + key + QLatin1Char('=') + text;
        return MemorySettingsStore::write(section, key, text);
    }
    // The session-start entry is the machine's; the wallpaper values
    // ("key path|value name") are the user's.
    QString CléLectureValeur(ostrevol::HKey HKey, const QString &Chemin, const QString &Clé,
                             bool MessageErreur) override
    {
        if (HKey == ostrevol::HKey::HKEY_LOCAL_MACHINE)
            return runEntry;
        // A wallpaper that is not there is no error of its own.
        userLookups << Chemin + QLatin1Char('|') + Clé + (MessageErreur ? QStringLiteral("|told") : QString());
        return userValues.value(Chemin + QLatin1Char('|') + Clé);
    }
    bool RegDemarrAjoutApp(const QString &, const QString &AppChemin, const QString &AppNomExe, bool) override
    {
        runEntry = AppChemin + QLatin1Char('/') + AppNomExe;
        writes << QStringLiteral("Run+");
        return true;
    }
    bool RegDemarrSupprimApp(const QString &, bool) override
    {
        runEntry.clear();
        writes << QStringLiteral("Run-");
        return true;
    }

    QStringList texts, clockCalls, files, commands, userLookups;
    QStringList writes; // with the session-start entry's changes
    QString answers, runEntry, startError;
    QString refuse; // "Section/Key" whose writes fail
    bool running = false;
    mutable int reads = 0;
    int readsAtClose = -1;
    int beeps = 0;
    CompletionHandler complete;
    QList<std::optional<QColor>> colours;
    QMap<QString, QString> userValues;
    std::function<void()> yield;
};

// A click where a user clicks: check boxes and option buttons take clicks
// on their indicator and text only.
void click(QWidget *control)
{
    const bool indicator = qobject_cast<QAbstractButton *>(control) && !qobject_cast<QPushButton *>(control);
    QTest::mouseClick(control, Qt::LeftButton, {}, indicator ? QPoint(6, control->height() / 2) : control->rect().center());
}

void type(QLineEdit *field, const QString &text)
{
    field->setFocus();
    QTRY_VERIFY(field->hasFocus());
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
}

// Both position fields as "x,y".
QString fields(const frmConfig &form)
{
    return form.txtPos[0]->text() + QLatin1Char(',') + form.txtPos[1]->text();
}

// The option checked in a group; N when none is.
template <size_t N>
int selected(const std::array<QRadioButton *, N> &group)
{
    return int(std::find_if(group.begin(), group.end(), [](QRadioButton *o) { return o->isChecked(); }) - group.begin());
}

// The mini clock's top-left corner in pixels of the picture's drawing area.
QPoint miniClock(frmConfig &form)
{
    return form.picHor->pos() - form.picScreen->drawingArea().topLeft();
}

// The dialog shows the desktop between "Démarrage" and "Carillons", but
// not inside its frames, which are opaque.
void showsTheDesktop(frmConfig &form, QColor desktop)
{
    const QImage shown = form.grab().toImage();
    const QPoint gap(100, form.fraCarillons->y() - 3);
    const QPoint inFrame = form.fraVisibilité->mapTo(&form, QPoint(form.fraVisibilité->width() - 6, 60));
    QVERIFY(!form.childAt(gap) && form.childAt(inFrame) == form.fraVisibilité);
    QCOMPARE(shown.pixelColor(gap).rgb(), desktop.rgb());
    const QColor frame = shown.pixelColor(inFrame);
    QVERIFY(frame.red() == frame.green() && frame.green() == frame.blue() && frame.red() > 200);
}

// The places a wallpaper is looked up, in their order.
const QStringList places{QStringLiteral("USER\\Control Panel\\Desktop|Wallpaper"),
                         QStringLiteral("Software\\Microsoft\\Internet Explorer\\Desktop\\General|Wallpaper"),
                         QStringLiteral("Control Panel\\Desktop|Wallpaper"),
                         QStringLiteral("Control Panel\\Desktop|ConvertedWallpaper")};

} // namespace

// The configuration dialog over the fakes, on a 1024 × 768 screen of its own
// at 15 twips to the pixel: the screen is 15360 × 11520 twips, and the
// picture box's drawing area 133 × 98 pixels, 1995 × 1470 twips, until a
// wallpaper gives it the screen's 4:3.
class tst_ConfigDialog : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Fakes> f;
    std::unique_ptr<frmConfig> form;
    QTemporaryDir m_files;

    // The dialog over the settings given ("Section/Key=text"), opened as the
    // program opens it.
    frmConfig &open(const QStringList &stored = {}, const QString &arguments = {})
    {
        for (const QString &line : stored)
            f->values[line.section(QLatin1Char('='), 0, 0)] = line.section(QLatin1Char('='), 1);
        form = std::make_unique<frmConfig>(frmConfig::Services{
            *f, *f, *f, *f, *f, f.get(), QStringLiteral(TINTAREL_PROGRAM_DIR), [this] { ++f->beeps; }, f->yield});
        form->Load(arguments);
        form->show();
        form->activateWindow();
        if (!QTest::qWaitForWindowActive(form.get()))
            qWarning("the dialog did not become active");
        return *form;
    }
    frmConfig &openInMode(int mode, int left = 1500, int top = 750)
    {
        return open({QStringLiteral("Réglages/StartPos=%1").arg(mode), QStringLiteral("Position/Left=%1").arg(left),
                     QStringLiteral("Position/Top=%1").arg(top)});
    }

private Q_SLOTS:
    void init() { f = std::make_unique<Fakes>(); }
    void cleanup()
    {
        form.reset();
        f.reset();
    }

    // First: once a dialog has been unloaded, which ends the application's
    // event loops, a modal dialog can no longer run.
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

    void loadShowsTheStoredSettings_data()
    {
        QTest::addColumn<QStringList>("stored");
        // chime index, chkNbHeures, chkVeille, chkCalendrier, visibility, chkPlage, chkActiver, start mode.
        QTest::addColumn<QList<int>>("values");
        QTest::addColumn<QString>("shownFields");
        QTest::newRow("empty store") << QStringList() << QList<int>{3, 1, 1, 0, 2, 0, 1, 0} << "6,6";
        QTest::newRow("Aucun clears what needs chimes, chimes off")
            << QStringList{"Réglages/Carillons=0", "Réglages/EnumHeures=1", "Réglages/Veille=1", "Réglages/Activer=0"}
            << QList<int>{0, 0, 0, 0, 2, 0, 0, 0} << "6,6";
        QTest::newRow("greyed boxes, mode 1")
            << QStringList{"Réglages/Calendrier=2", "Plage/Check=2", "Réglages/Visibilité=3", "Réglages/StartPos=1",
                           "Position/Left=1500", "Position/Top=750"}
            << QList<int>{3, 1, 1, 2, 3, 2, 1, 1} << "100,50";
        QTest::newRow("mode 2 left of and above the screen")
            << QStringList{"Réglages/StartPos=2", "Position/Left=-300", "Position/Top=-16"}
            << QList<int>{3, 1, 1, 0, 2, 0, 1, 2} << "-20,-2";
        QTest::newRow("mode 0 left of the screen is clamped")
            << QStringList{"Réglages/StartPos=0", "Position/Left=-300", "Position/Top=150"}
            << QList<int>{3, 1, 1, 0, 2, 0, 1, 0} << "0,10";
    }
    void loadShowsTheStoredSettings()
    {
        QFETCH(QStringList, stored);
        QFETCH(QList<int>, values);
        frmConfig &form = open(stored);
        QCOMPARE(f->texts, QStringList());
        const QList<int> shown{selected(form.optCarillon), form.chkNbHeures->value(), form.chkVeille->value(),
                               form.chkCalendrier->value(), selected(form.optVisi),     form.chkPlage->value(),
                               form.chkActiver->value(),     selected(form.optPlace)};
        QCOMPARE(shown, values);
        QCOMPARE(form.VisibilityIndex, values[4]);
        QCOMPARE(form.StartPosIndex, values[7]);
        QTEST(fields(form), "shownFields");
        QVERIFY(f->writes.isEmpty());
        // The focus starts on the chime pattern, which neither Space nor Enter
        // can change; OK takes it when the pattern is greyed.
        QCOMPARE(QApplication::focusWidget(),
                 values[6] ? static_cast<QWidget *>(form.optCarillon[size_t(values[0])]) : form.cmdOk);
        // A greyed box, once clicked, goes between checked and clear only.
        QList<int> calendar;
        for (int i = 0; i < 3; ++i) {
            click(form.chkCalendrier);
            calendar << form.chkCalendrier->value();
        }
        QCOMPARE(calendar, (QList<int>{1, 0, 1}));
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
        frmConfig &form = open(stored);
        QCOMPARE(f->texts.size(), 1);
        QVERIFY2(f->texts[0].startsWith(QStringLiteral("Survenue d'une erreur : ")) && f->texts[0].contains(named),
                 qPrintable(f->texts[0]));
        QTEST(selected(form.optVisi) < 4, "visibilityShown");
        QTEST(form.lblPos[0]->text() != QStringLiteral("Label5"), "boundsShown");
        // The rest is skipped: no help file, so F1 does nothing.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
        QVERIFY(!form.helpWindow());
    }

    // The colours are chosen on the sample only: the preview clock keeps
    // those read at start-up.
    void okStoresEachSettingInItsOrder()
    {
        frmConfig &form = open({"Réglages/Carillons=2", "Réglages/Visibilité=1", "Réglages/StartPos=2",
                                "Position/Left=3000", "Position/Top=1500", "Réglages/ForeColor=0",
                                "Réglages/BackColor=16777215"});
        click(form.chkDémarrage);
        click(form.chkPlage);
        form.dtpDeb->setTime(QTime(8, 15, 0));
        click(form.optVisi[3]);
        click(form.optCarillon[3]);
        f->colours = {QColor(255, 0, 0), std::nullopt, QColor(0, 0, 255)};
        click(form.cmdFond[0]);
        click(form.cmdFond[1]); // cancelled
        QCOMPARE(form.demoBackColor(), 0xFFFFFFu);
        click(form.cmdFond[1]);
        QCOMPARE(form.lblDemo->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QCOMPARE(form.lblDemo->palette().color(QPalette::Window), QColor(0, 0, 255));
        QCOMPARE(form.lblHorloge->palette().color(QPalette::Window), QColor(255, 255, 255));
        click(form.cmdOk);
        QCOMPARE(f->writes, (QStringList{"Réglages/Carillons=3", "Réglages/Visibilité=3", "Run+",
                                         "Réglages/EnumHeures=1", "Réglages/Veille=1", "Réglages/Calendrier=0",
                                         "Plage/Check=1", "Plage/Debut=08:15:00", "Plage/Fin=20:00:00",
                                         "Réglages/Activer=1", "Réglages/ForeColor=255", "Réglages/BackColor=16711680",
                                         "Réglages/StartPos=2", "Position/Top=1500", "Position/Left=3000"}));
        QVERIFY(!form.isVisible());
    }

    void aFailedWriteStopsTheStoringAndKeepsTheDialog()
    {
        f->refuse = QStringLiteral("Plage/Check");
        frmConfig &form = open();
        click(form.cmdOk);
        QCOMPARE(f->writes.last(), QStringLiteral("Réglages/Calendrier=0"));
        QVERIFY(form.isVisible());
        QVERIFY(f->texts.join(QString()).contains(QStringLiteral("Plage")));
    }

    // An edited field is validated before anything is stored, one left as
    // loaded is not: it keeps a place beyond the screen.
    void okStoresThePositionEditedInRange()
    {
        frmConfig &form = open({"Réglages/StartPos=2", "Position/Left=45000", "Position/Top=150"});
        type(form.txtPos[1], QStringLiteral("769"));
        // Keypad Enter from the field is OK, as Enter from every control.
        QTest::keyClick(form.txtPos[1], Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(f->writes.filter(QStringLiteral("Position/")),
                 (QStringList{"Position/Top=11520", "Position/Left=45000"}));
        QVERIFY(!form.isVisible());
    }

    // The command line decides whether the clock comes back at the unload;
    // a clock running is taken down, promised back first, before the
    // settings are read. OK asks before keeping a clock never audible and
    // never visible; the unload silences the audition and, when no clock
    // was running, asks whether to start one (that every ending brings a
    // clock taken down back is shown end to end); ended twice, it does all
    // that once.
    void okAndTheUnload_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QStringList>("stored");
        // Chime pattern, visibility and "chimes off" clicked before the ending.
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("running");
        // The answers to the questions in turn; what each message names.
        QTest::addColumn<QString>("answers");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QString>("clockCalls");
        // 0: the dialog stays, 1: it closes, 2: it closes, the settings stored.
        QTest::addColumn<int>("ending");
        const QStringList no;
        const QStringList guard{"jamais audible ni jamais visible"};
        const QStringList ask{"Voulez-vous démarrer l'horloge"};
        const QString taken = QStringLiteral("find promise close start");
        QTest::newRow("Aucun and Jamais, No") << "" << no << QList<int>{0, 0, 0} << "OK" << false << "N" << guard
                                              << "find" << 0;
        QTest::newRow("Aucun and Jamais, Yes: not asked to start")
            << "" << no << QList<int>{0, 0, 0} << "OK" << false << "Y" << guard << "find" << 2;
        QTest::newRow("Aucun while chiming, Yes")
            << "" << no << QList<int>{0, 1, 0} << "OK" << false << "Y" << ask << "find start" << 2;
        QTest::newRow("Tous and Jamais, chimes off, No")
            << "" << no << QList<int>{3, 0, 1} << "OK" << false << "N" << ask << "find" << 2;
        QTest::newRow("Escape, Yes") << "" << no << QList<int>() << "Escape" << false << "Y" << ask << "find start" << 1;
        QTest::newRow("by the clock") << "AffichHorloge" << no << QList<int>() << "Escape" << true << "" << no
                                      << "find promise start" << 1;
        QTest::newRow("by the clock, other letter case")
            << "affichhorloge" << no << QList<int>() << "Escape" << true << "" << no << taken << 1;
        QTest::newRow("by the clock, further text")
            << "AffichHorloge 1" << no << QList<int>() << "Escape" << false << "N" << ask << "find" << 1;
        QTest::newRow("ended twice, no question") << "" << no << QList<int>() << "twice" << false << "Y" << no << "find"
                                                  << 1;
        QTest::newRow("a clock that cannot start") << "" << no << QList<int>() << "Annuler" << true << ""
                                                   << QStringList{"programme introuvable"} << taken << 1;
        QTest::newRow("unreadable settings are never stored")
            << "" << QStringList{"Position/Top=99999999999"} << QList<int>() << "OK" << true << ""
            << QStringList{"Survenue", "n'ont pas pu être lus"} << taken << 1;
    }
    void okAndTheUnload()
    {
        QFETCH(QString, arguments);
        QFETCH(QStringList, stored);
        QFETCH(QList<int>, clicks);
        QFETCH(QString, how);
        QFETCH(QStringList, messages);
        QFETCH(int, ending);
        QFETCH(bool, running);
        QFETCH(QString, answers);
        f->running = running;
        if (how == QLatin1String("Annuler"))
            f->startError = QStringLiteral("programme introuvable");
        f->answers = answers;
        frmConfig &form = open(stored, arguments);
        QCOMPARE(form.RestartClock, f->clockCalls.contains(QStringLiteral("promise")));
        if (!clicks.isEmpty()) {
            click(form.optCarillon[size_t(clicks[0])]);
            click(form.optVisi[size_t(clicks[1])]);
            if (clicks[2])
                click(form.chkActiver);
        }
        if (how == QLatin1String("Escape")) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        } else if (how == QLatin1String("twice")) {
            form.Unload();
            form.Unload();
            form.close();
        } else {
            click(how == QLatin1String("OK") ? form.cmdOk : form.cmdAnnuler);
        }
        QTRY_COMPARE(form.isVisible(), ending == 0);
        QCOMPARE(f->texts.size(), messages.size());
        for (int i = 0; i < messages.size(); ++i)
            QVERIFY2(f->texts[i].contains(messages[i]), qPrintable(f->texts[i]));
        QTEST(f->clockCalls.join(QLatin1Char(' ')), "clockCalls");
        QCOMPARE(f->readsAtClose, f->clockCalls.contains(QStringLiteral("close")) ? 0 : -1);
        QCOMPARE(!f->writes.isEmpty(), ending == 2);
        if (ending)
            QCOMPARE(f->commands.mid(0, 2), (QStringList{"Stop", "Close"}));
    }

    void helpOpensAtTheTopicBesideTheDialog_data()
    {
        QTest::addColumn<QPoint>("dialogAt");
        QTest::newRow("at the top-left corner") << QPoint(0, 0);
        QTest::newRow("at the right edge") << QPoint(1024 - 520, 100);
    }
    void helpOpensAtTheTopicBesideTheDialog()
    {
        QFETCH(QPoint, dialogAt);
        frmConfig &form = open();
        form.move(dialogAt);
        form.chkCalendrier->setFocus();
        QTest::keyClick(form.chkCalendrier, Qt::Key_F1);
        HelpWindow *help = form.helpWindow();
        QVERIFY(help && help->isVisible());
        QCOMPARE(help->browser()->source().fragment(), HelpWindow::anchor(80));
        QTRY_VERIFY(!help->frameGeometry().intersects(form.frameGeometry()));
        QCOMPARE(help->frameGeometry().top(), form.frameGeometry().top());
        QVERIFY(form.screen()->availableGeometry().contains(help->frameGeometry()));
        QVERIFY(f->texts.isEmpty());
    }

    void everyCaptionFitsOrIsElidedWithItsText_data()
    {
        QTest::addColumn<QString>("family");
        QTest::newRow("as designed") << "";
        // What a system without the Liberation fonts draws instead.
        QTest::newRow("a wider sans") << "DejaVu Sans";
    }
    void everyCaptionFitsOrIsElidedWithItsText()
    {
        QFETCH(QString, family);
        frmConfig &form = open();
        if (!family.isEmpty()) {
            form.setFont(QFont(family, 9));
            form.fitCaptions();
        }
        int elided = 0;
        for (auto *control : form.findChildren<QWidget *>()) {
            const bool hasCaption = qobject_cast<QAbstractButton *>(control) || qobject_cast<QLabel *>(control);
            const QString caption = control->property(hasCaption ? "text" : "title").toString();
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
        QVERIFY(elided == 0 || !family.isEmpty());
    }

    // The settings loaded and the clicks on the chime options; the controls
    // that end enabled and the values of chkNbHeures and chkVeille.
    void enabledStatesFollowTheClicks_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<QStringList>("enabled");
        QTest::addColumn<QList<int>>("values");
        const QStringList on{"chkPlage", "chkVeille", "chkNbHeures", "Aucun", "Tous"};
        const QStringList none;
        QTest::newRow("Aucun loaded, chimes on") << QStringList{"Réglages/Carillons=0"} << none
                                                 << QStringList{"chkPlage", "Aucun", "Tous"} << QList<int>{0, 0};
        QTest::newRow("range checked") << none << QStringList{"chkPlage"} << on + QStringList{"dtpDeb"}
                                       << QList<int>{1, 1};
        QTest::newRow("chimes off keep the pickers of a checked range")
            << none << QStringList{"chkPlage", "chkActiver"} << QStringList{"dtpDeb"} << QList<int>{1, 1};
        QTest::newRow("Aucun clears and disables")
            << none << QStringList{"Aucun"} << QStringList{"chkPlage", "Aucun", "Tous"} << QList<int>{0, 0};
        QTest::newRow("Aucun, then Heures keeps them cleared")
            << none << QStringList{"Aucun", "Heures"} << on << QList<int>{0, 0};
        QTest::newRow("greyed range, switch off and on") << QStringList{"Plage/Check=2"}
                                                         << QStringList{"chkActiver", "chkActiver"}
                                                         << on + QStringList{"dtpDeb"} << QList<int>{1, 1};
        QTest::newRow("greyed switch counts as on, then off")
            << QStringList{"Réglages/Activer=2"} << QStringList{"chkActiver"} << on << QList<int>{1, 1};
    }
    void enabledStatesFollowTheClicks()
    {
        QFETCH(QStringList, stored);
        QFETCH(QStringList, clicks);
        frmConfig &form = open(stored);
        const QMap<QString, QWidget *> controls{
            {"chkActiver", form.chkActiver},   {"chkPlage", form.chkPlage},       {"chkVeille", form.chkVeille},
            {"chkNbHeures", form.chkNbHeures}, {"Aucun", form.optCarillon[0]},    {"Heures", form.optCarillon[1]},
            {"Tous", form.optCarillon[3]},     {"dtpDeb", form.dtpDeb}};
        for (const QString &name : clicks)
            click(controls.value(name));
        QStringList isEnabled;
        for (const QString name : {"chkPlage", "chkVeille", "chkNbHeures", "Aucun", "Tous", "dtpDeb"})
            if (controls.value(name)->isEnabled())
                isEnabled << name;
        QTEST(isEnabled, "enabled");
        QCOMPARE(form.dtpFin->isEnabled(), form.dtpDeb->isEnabled());
        QTEST((QList<int>{form.chkNbHeures->value(), form.chkVeille->value()}), "values");
        // The switch never touches the audition.
        QVERIFY(form.cboCar->isEnabled() && form.cmdPlay->isEnabled());
    }

    void auditionPlaysAndWindsDown_data()
    {
        QTest::addColumn<int>("entry");
        // Completion notices delivered in turn; -1 stands for a click on
        // Stop, -2 for a success notice with Stop clicked while the audition
        // lets the event loop run between the melody and the strikes.
        QTest::addColumn<QList<int>>("notices");
        QTest::addColumn<QStringList>("files");
        const int ok = ChimePlayer::NotifySuccessful;
        QTest::newRow("Quatre heures: melody, then strikes")
            << 0 << QList<int>{ok, ok} << QStringList{"Carill1.mp3", "CarillH4.mp3"};
        QTest::newRow("Moins le quart") << 3 << QList<int>{ok} << QStringList{"Carill4.mp3"};
        QTest::newRow("stopped during the melody")
            << 0 << QList<int>{-1, int(ChimePlayer::NotifyAborted), ok} << QStringList{"Carill1.mp3"};
        QTest::newRow("melody failed") << 0 << QList<int>{int(ChimePlayer::NotifyFailure), ok}
                                       << QStringList{"Carill1.mp3"};
        QTest::newRow("stopped between melody and strikes") << 0 << QList<int>{-2} << QStringList{"Carill1.mp3"};
    }
    void auditionPlaysAndWindsDown()
    {
        QFETCH(int, entry);
        QFETCH(QList<int>, notices);
        QFETCH(QStringList, files);
        if (notices.contains(-2))
            f->yield = [this] { form->cmdPlay->click(); };
        frmConfig &form = open();
        form.cboCar->setCurrentIndex(entry);
        click(form.cmdPlay);
        QCOMPARE(form.playImage(), QStringLiteral("Stop"));
        QVERIFY(form.AuditionState() != 0);
        for (int notice : notices) {
            if (notice == -1)
                click(form.cmdPlay);
            else
                f->complete(notice == -2 ? int(ChimePlayer::NotifySuccessful) : notice);
        }
        QCOMPARE(f->files, files);
        QCOMPARE(form.AuditionState(), 0);
        QCOMPARE(form.playImage(), QStringLiteral("Play"));
        QCOMPARE(f->commands.filter(QStringLiteral("Play")).size(), files.size());
        QVERIFY(f->texts.isEmpty());
    }

    // Leaving a field takes its value to whole pixels within the screen, or
    // tells that it is no number and keeps the focus there: one message, even
    // when the other field holds no number either, and the click that left
    // the field does nothing else.
    void leavingAFieldValidatesIt_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<QString>("pasted");
        // Empty: not valid.
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("clicked");
        QTest::newRow("one beyond the bound") << 0 << "1025" << "1024" << "";
        QTest::newRow("twelve and seven tenths") << 0 << "12.7" << "12" << "";
        QTest::newRow("decimal comma") << 0 << "12,7" << "12" << "";
        QTest::newRow("a fraction below zero") << 1 << "-0.5" << "0" << "";
        QTest::newRow("two signs, then the other field") << 0 << "1-2" << "" << "";
        QTest::newRow("emptied, then OK") << 0 << "" << "" << "OK";
        QTest::newRow("not a number, then the last place") << 1 << "abc" << "" << "last place";
    }
    void leavingAFieldValidatesIt()
    {
        QFETCH(int, field);
        QFETCH(QString, pasted);
        QFETCH(QString, shown);
        QFETCH(QString, clicked);
        frmConfig &form = openInMode(2);
        QLineEdit *edited = form.txtPos[size_t(field)];
        QLineEdit *other = form.txtPos[size_t(1 - field)];
        if (shown.isEmpty())
            other->setText(QStringLiteral("x"));
        // Pasted, since typing lets digits only through.
        edited->setFocus();
        QTRY_VERIFY(edited->hasFocus());
        QGuiApplication::clipboard()->setText(pasted);
        QTest::keyClick(edited, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edited, Qt::Key_V, Qt::ControlModifier);
        const QMap<QString, QWidget *> targets{{"", other}, {"OK", form.cmdOk}, {"last place", form.optPlace[0]}};
        click(targets.value(clicked));
        if (shown.isEmpty()) {
            QCOMPARE(other->text(), QStringLiteral("x"));
            QCOMPARE(f->texts, QStringList{"Valeur de position non valide."});
            QVERIFY(edited->hasFocus());
            QCOMPARE(edited->selectedText(), pasted);
            QCOMPARE(edited->text(), pasted);
            QVERIFY(form.isVisible() && f->writes.isEmpty() && form.optPlace[2]->isChecked());
            QCOMPARE(form.StartPosIndex, 2);
        } else {
            QCOMPARE(f->texts, QStringList());
            QCOMPARE(edited->text(), shown);
            QVERIFY(other->hasFocus());
        }
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
        for (QWidget *control : std::initializer_list<QWidget *>{form.txtPos[1], form.updPos[0], form.lblPosDir[1],
                                                                 form.lblPos[0], form.picHor})
            QVERIFY(!control->isEnabled());
        QVERIFY(miniClock(form) != edited);
        click(form.optPlace[1]);
        QVERIFY(form.txtPos[0]->isEnabled() && form.picHor->isEnabled() && form.updPos[1]->isEnabled());
        QCOMPARE(form.txtPos[0]->text(), QStringLiteral("100"));
    }

    // left = 1995 × (x × 15 / 15360), top = 1470 × (y × 15 / 11520), to whole pixels.
    void fieldsPlaceTheMiniClock()
    {
        // -39 and -19 twips, though the last place shows 0, 0 in its fields.
        QCOMPARE(miniClock(openInMode(0, -300, -150)), QPoint(-3, -1));
        frmConfig &form = openInMode(1, 15 * 1023, 750);
        click(form.updPos[0]->upButton());
        click(form.updPos[0]->upButton());
        click(form.updPos[1]->downButton());
        QCOMPARE(fields(form), QStringLiteral("1024,49"));
        // 1470 × (49 × 15 / 11520) = 93.8 twips.
        QCOMPARE(miniClock(form), QPoint(133, 6));
        // Only digits can be typed, and the editing keys.
        type(form.txtPos[0], QStringLiteral("5a1-2."));
        type(form.txtPos[1], QStringLiteral("384"));
        QTest::keyClick(form.txtPos[1], Qt::Key_Tab);
        QCOMPARE(fields(form), QStringLiteral("512,384"));
        QCOMPARE(f->beeps, 3);
        QCOMPARE(miniClock(form), QPoint(66, 49));
        QVERIFY(f->texts.isEmpty());
    }

    void dragAndDrop_data()
    {
        QTest::addColumn<QPoint>("grab");
        // In the picture's drawing area.
        QTest::addColumn<QPoint>("drop");
        // The surface dragged over on the way, if any.
        QTest::addColumn<QString>("via");
        // The fields after the drop, the mini clock being at 13, 6.
        QTest::addColumn<QString>("shown");
        // Grab (5, 4) pixels = (75, 60) twips; dropped at (60, 40) the corner
        // lies at (825, 540) twips: x = 15360 × (825 / 1995) / 15 = 423.46,
        // y = 11520 × (540 / 1470) / 15 = 282.1.
        QTest::newRow("inside the picture") << QPoint(5, 4) << QPoint(60, 40) << "" << "423,282";
        // (2, 30): left = 30 - 75 = -45 twips, x = -23.1, rounded down.
        QTest::newRow("near the left edge") << QPoint(5, 4) << QPoint(2, 30) << "" << "-24,203";
        QTest::newRow("at the far corner") << QPoint(1, 1) << QPoint(134, 99) << "" << "1024,768";
        // A drag that passes over the frame's or the dialog's own surface ends there.
        QTest::newRow("out over the frame") << QPoint(3, 3) << QPoint(90, 70) << "frame" << "100,50";
        QTest::newRow("out over the dialog") << QPoint(3, 3) << QPoint(90, 70) << "dialog" << "100,50";
        QTest::newRow("onto the mini clock itself") << QPoint(3, 3) << QPoint(19, 11) << "" << "100,50";
    }
    void dragAndDrop()
    {
        QFETCH(QPoint, grab);
        QFETCH(QPoint, drop);
        QFETCH(QString, via);
        QFETCH(QString, shown);
        frmConfig &form = openInMode(1);
        MiniClock *clock = form.picHor;
        const QMap<QString, QPoint> surfaces{
            {"frame", form.fraPlace->mapTo(&form, QPoint(100, form.fraPlace->height() - 8))},
            {"dialog", QPoint(250, form.fraPlace->geometry().bottom() + 6)}};
        if (!via.isEmpty())
            QCOMPARE(form.childAt(surfaces[via]), via == QLatin1String("frame") ? form.fraPlace : nullptr);
        const QPoint to = clock->mapFrom(form.picScreen, form.picScreen->drawingArea().topLeft() + drop);
        QTest::mousePress(clock, Qt::LeftButton, {}, grab);
        QVERIFY(form.isDragging() && form.dragOutline()->isVisible());
        if (!via.isEmpty())
            QTest::mouseMove(clock, clock->mapFrom(&form, surfaces[via]));
        QTest::mouseMove(clock, to);
        QTest::mouseRelease(clock, Qt::LeftButton, {}, to);
        QVERIFY(!form.isDragging() && !form.dragOutline()->isVisible());
        QCOMPARE(miniClock(form), shown == QLatin1String("100,50") ? QPoint(13, 6) : drop - grab);
        QCOMPARE(fields(form), shown);
        // A drop is stored as it stands.
        click(form.cmdOk);
        QCOMPARE(f->writes.filter(QStringLiteral("Position/")),
                 (QStringList{QStringLiteral("Position/Top=%1").arg(shown.section(QLatin1Char(','), 1).toInt() * 15),
                              QStringLiteral("Position/Left=%1").arg(shown.section(QLatin1Char(','), 0, 0).toInt() * 15)}));
    }

    // The first value present is the wallpaper, drawn to cover the box,
    // centred. A missing file is told and the load goes on with the mini
    // clock and the help file; any other unreadable file ends the load.
    void wallpaper_data()
    {
        // "%1" stands for a picture of the size given, "%2" for a text file,
        // "%3" for the first half of the picture's file.
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<int>("lookups");
        QTest::addColumn<QSize>("size");
        // Where the picture is drawn in the box's drawing area, null when it is not.
        QTest::addColumn<QRectF>("drawn");
        // What the one message names; none when empty.
        QTest::addColumn<QString>("told");
        QTest::addColumn<bool>("loadGoesOn");
        // With a wallpaper the box takes the screen's 4:3: 1530 ÷ 11520 × 15360
        // = 2040 twips, 136 pixels, a drawing area of 132 × 98.
        const QSize fourThirds(64, 48);
        const QRectF fullWidth(0, -0.5, 132, 99);
        QTest::newRow("none present") << QStringList() << 4 << fourThirds << QRectF() << "" << true;
        QTest::newRow("three characters are not a path")
            << QStringList{"C:\\", "%1"} << 2 << fourThirds << fullWidth << "" << true;
        QTest::newRow("four characters are, missing")
            << QStringList{"/a.b", "%1"} << 1 << fourThirds << QRectF() << "/a.b" << true;
        QTest::newRow("the converted wallpaper last")
            << QStringList{"x", "", "", "%1"} << 4 << fourThirds << fullWidth << "" << true;
        QTest::newRow("16:9, full height, cut left and right") << QStringList{"", "", "%1"} << 3 << QSize(320, 180)
                                                               << QRectF(-(174.2222f - 132) / 2, 0, 174.2222f, 98)
                                                               << "" << true;
        QTest::newRow("taller, full width, cut top and bottom")
            << QStringList{"", "", "%1"} << 3 << QSize(300, 400) << QRectF(0, -39, 132, 176) << "" << true;
        for (const auto &[name, spoiled] : {std::pair("text file", "%2"), {"half a PNG", "%3"}})
            QTest::newRow(name) << QStringList{spoiled} << 1 << QSize(320, 180) << QRectF()
                                << "Survenue d'une erreur : " << false;
    }
    void wallpaper()
    {
        QFETCH(QStringList, values);
        QFETCH(int, lookups);
        QFETCH(QSize, size);
        QFETCH(QRectF, drawn);
        QFETCH(QString, told);
        QFETCH(bool, loadGoesOn);
        // Red left eighth, blue right eighth, green between.
        QImage image(size, QImage::Format_RGB32);
        image.fill(Qt::green);
        QPainter painter(&image);
        painter.fillRect(0, 0, size.width() / 8, size.height(), Qt::red);
        painter.fillRect(size.width() - size.width() / 8, 0, size.width() / 8, size.height(), Qt::blue);
        painter.end();
        const QString picture = m_files.filePath(QStringLiteral("picture.png"));
        QVERIFY(image.save(picture));
        QFile text(m_files.filePath(QStringLiteral("text.png")));
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write("ceci n'est pas une image\n") > 0);
        text.close();
        QFile picked(picture), half(m_files.filePath(QStringLiteral("half.png")));
        QVERIFY(picked.open(QIODevice::ReadOnly) && half.open(QIODevice::WriteOnly));
        QVERIFY(half.write(picked.read(picked.size() / 2)) > 0);
        half.close();
        for (int i = 0; i < values.size(); ++i)
            f->userValues[places[i]] =
                values[i].replace("%1", picture).replace("%2", text.fileName()).replace("%3", half.fileName());
        frmConfig &form = openInMode(1, 7680, 5760);
        QCOMPARE(f->userLookups, places.mid(0, lookups));
        QCOMPARE(f->texts.size(), told.isEmpty() ? 0 : 1);
        QVERIFY(told.isEmpty() || f->texts[0].contains(told));
        QCOMPARE(!form.helpFile().isEmpty(), loadGoesOn);
        // The mini clock in the middle of the picture, whichever size it has.
        QCOMPARE(miniClock(form) == QPoint(66, 49), loadGoesOn);
        QCOMPARE(form.timSimul->isActive(), !drawn.isNull());
        if (drawn.isNull()) {
            QVERIFY(form.picScreen->canvas().isNull());
            if (values.isEmpty()) {
                // The box keeps its design size, 2048 × 1536 twips at 4440.
                QCOMPARE(form.picScreen->geometry(), QRect(296, 24, 137, 102));
                QCOMPARE(form.lblHorloge->text(), QStringLiteral("00:00:00"));
                showsTheDesktop(form, colourFromValue(0x80000001, form.palette()));
            }
            return;
        }
        // 300 twips between the box and the frame's right edge: 7215 - 2040 - 300.
        QCOMPARE(form.picScreen->geometry(), QRect(325, 24, 136, 102));
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
        QVERIFY(qAbs(left.red() - right.blue()) <= 40 && qAbs(left.green() - right.green()) <= 40);
        const QRegularExpression time(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d$"));
        QTRY_VERIFY(time.match(form.lblHorloge->text()).hasMatch() && form.lblHorloge->text() != "00:00:00");
        // The gap lies over the middle of the screen, the green of every picture.
        showsTheDesktop(form, Qt::green);
    }
};

int main(int argc, char **argv)
{
    QTemporaryDir home;
    const QString runtime = home.filePath(QStringLiteral("runtime"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    TestDisplay display;
    if (!display.start(QStringLiteral("1024x768x24")))
        qFatal("cannot start Xvfb");
    qputenv("DISPLAY", display.name().toLatin1());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    tst_ConfigDialog test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_configdialog.moc"
