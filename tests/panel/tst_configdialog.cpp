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
#include <QFileInfo>
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
#include <deque>
#include <functional>
#include <memory>

namespace {

// Stand-ins for what the configuration dialog works with, each recording
// what it was asked, and a harness that opens the real dialog over them.

// The next queued answer, or `otherwise` once they run out.
template <class T>
T next(std::deque<T> &answers, T otherwise)
{
    if (answers.empty())
        return otherwise;
    const T answer = answers.front();
    answers.pop_front();
    return answer;
}

// Yes/No questions take the queued answers in turn, No once they run out.
class FakeMessageBox : public MessageBox
{
public:
    Answer show(const QString &, const QString &text, Icon, Buttons buttons) override
    {
        texts << text;
        return buttons == Buttons::Ok ? Answer::Ok : next(answers, Answer::No);
    }
    QStringList texts;
    std::deque<Answer> answers;
};

class FakeClockControl : public ClockControl
{
public:
    bool find() override
    {
        calls << QStringLiteral("find");
        return running;
    }
    void close() override
    {
        calls << QStringLiteral("close");
        if (onClose)
            onClose();
        running = false;
    }
    void promiseRestart() override { calls << QStringLiteral("promise"); }
    bool start(QString *error) override
    {
        calls << QStringLiteral("start");
        if (startFails && error)
            *error = QStringLiteral("programme introuvable");
        return !startFails;
    }
    bool running = false;
    bool startFails = false;
    QStringList calls;
    std::function<void()> onClose;
};

// Records the commands and the names of the files it is given, in order;
// a file that is not there is recorded with its whole path.
class FakePlayer : public ChimePlayer
{
public:
    void setDeviceType(const QString &) override {}
    QString deviceType() const override { return QString(); }
    void setFileName(const QString &name) override
    {
        files << (QFile::exists(name) ? QFileInfo(name).fileName() : name);
    }
    QString fileName() const override { return QString(); }
    void setNotify(bool) override {}
    Result command(const QString &command) override
    {
        commands << command;
        return failCommands ? Result::CannotOpenFile : Result::Ok;
    }
    int mode() const override { return ModeStopped; }
    void setCompletionHandler(CompletionHandler handler) override { m_handler = std::move(handler); }
    // A completion notice, as the event loop delivers it.
    void complete(int code)
    {
        if (m_handler)
            m_handler(code);
    }
    QStringList files;
    QStringList commands;
    bool failCommands = false;

private:
    CompletionHandler m_handler;
};

class FakeColourChooser : public ColourChooser
{
public:
    std::optional<QColor> choose(QWidget *) override { return next(answers, std::optional<QColor>()); }
    std::deque<std::optional<QColor>> answers;
};

// Settings in memory; every write is recorded in order and can be refused.
class RecordingStore : public MemorySettingsStore
{
public:
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
    // "Section/Key=text" lines.
    void set(const QStringList &lines)
    {
        for (const QString &line : lines)
            values[line.section(QLatin1Char('='), 0, 0)] = line.section(QLatin1Char('='), 1);
    }
    QStringList writes;
    mutable int reads = 0;
    QString refuse; // "Section/Key" whose writes fail
};

// The session-start entry, written down in `journal` when set, and the
// wallpaper values of the per-user tree ("key path|value name" → text).
class FakeStartupLibrary : public StartupLibrary
{
public:
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
        if (journal)
            *journal << QStringLiteral("Run+");
        return true;
    }
    bool RegDemarrSupprimApp(const QString &, bool) override
    {
        runEntry.clear();
        if (journal)
            *journal << QStringLiteral("Run-");
        return true;
    }
    QString runEntry;
    QStringList *journal = nullptr;
    QMap<QString, QString> userValues;
    QStringList userLookups;
};

// A click where a user clicks: check boxes and option buttons take clicks
// on their indicator and text only.
void click(QWidget *control)
{
    const bool indicator = qobject_cast<QAbstractButton *>(control) && !qobject_cast<QPushButton *>(control);
    const QPoint at = indicator ? QPoint(6, control->height() / 2) : control->rect().center();
    QTest::mouseClick(control, Qt::LeftButton, {}, at);
}

void type(QLineEdit *field, const QString &text)
{
    field->setFocus();
    QTRY_VERIFY(field->hasFocus());
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
}

// Both position fields as "x,y".
QString fields(const frmConfig &form)
{
    return form.txtPos[0]->text() + QLatin1Char(',') + form.txtPos[1]->text();
}

// The dialog over the fakes, opened as the program opens it.
struct DialogHarness
{
    frmConfig &open(const QString &arguments = QString(), bool show = true)
    {
        form = std::make_unique<frmConfig>(services());
        form->Load(arguments);
        if (show) {
            form->show();
            form->activateWindow();
            if (!QTest::qWaitForWindowActive(form.get()))
                qWarning("the dialog did not become active");
        }
        return *form;
    }
    frmConfig::Services services()
    {
        return {messages, clock, player, colours, store, &library, QStringLiteral(TINTAREL_PROGRAM_DIR),
                [this] { ++beeps; }, yield};
    }

    FakeMessageBox messages;
    FakeClockControl clock;
    FakePlayer player;
    FakeColourChooser colours;
    RecordingStore store;
    FakeStartupLibrary library;
    std::function<void()> yield;
    int beeps = 0;
    std::unique_ptr<frmConfig> form;
};

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
    std::unique_ptr<DialogHarness> h;
    QTemporaryDir m_files;

    // The option checked in a group; N when none is.
    template <size_t N>
    static int selected(const std::array<QRadioButton *, N> &group)
    {
        const auto checked = std::find_if(group.begin(), group.end(), [](QRadioButton *o) { return o->isChecked(); });
        return int(checked - group.begin());
    }

    frmConfig &openInMode(int mode, int left = 1500, int top = 750)
    {
        h->store.set({QStringLiteral("Réglages/StartPos=%1").arg(mode), QStringLiteral("Position/Left=%1").arg(left),
                      QStringLiteral("Position/Top=%1").arg(top)});
        return h->open();
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
        for (const QPoint point : via ? QList<QPoint>{*via, to} : QList<QPoint>{to})
            QTest::mouseMove(clock, clock->mapFrom(&form, point));
        QTest::mouseRelease(clock, Qt::LeftButton, {}, clock->mapFrom(&form, to));
        QVERIFY(!form.isDragging() && !form.dragOutline()->isVisible());
    }

    // Red left eighth, blue right eighth, green between.
    QString image(QSize size)
    {
        QImage picture(size, QImage::Format_RGB32);
        picture.fill(Qt::green);
        QPainter painter(&picture);
        painter.fillRect(0, 0, size.width() / 8, size.height(), Qt::red);
        painter.fillRect(size.width() - size.width() / 8, 0, size.width() / 8, size.height(), Qt::blue);
        painter.end();
        const QString path = m_files.filePath(QStringLiteral("picture.png"));
        if (!picture.save(path))
            qWarning("cannot write %s", qPrintable(path));
        return path;
    }

    // The dialog shows the desktop between "Démarrage" and "Carillons", but
    // not inside its frames, which are opaque.
    static void showsTheDesktop(frmConfig &form, QColor desktop)
    {
        const QImage shown = form.grab().toImage();
        const QPoint gap(100, form.fraCarillons->y() - 3);
        const QPoint inFrame = form.fraVisibilité->mapTo(&form, QPoint(form.fraVisibilité->width() - 6, 60));
        QVERIFY(!form.childAt(gap) && form.childAt(inFrame) == form.fraVisibilité);
        QCOMPARE(shown.pixelColor(gap).rgb(), desktop.rgb());
        const QColor frame = shown.pixelColor(inFrame);
        QVERIFY(frame.red() == frame.green() && frame.green() == frame.blue() && frame.red() > 200);
    }

private Q_SLOTS:
    void init() { h = std::make_unique<DialogHarness>(); }
    void cleanup() { h.reset(); }

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
        h->store.set(stored);
        frmConfig &form = h->open();
        QCOMPARE(h->messages.texts, QStringList());
        const QList<int> shown{selected(form.optCarillon), form.chkNbHeures->value(), form.chkVeille->value(),
                               form.chkCalendrier->value(), selected(form.optVisi),     form.chkPlage->value(),
                               form.chkActiver->value(),     selected(form.optPlace)};
        QCOMPARE(shown, values);
        QCOMPARE(form.VisibilityIndex, values[4]);
        QCOMPARE(form.StartPosIndex, values[7]);
        QCOMPARE((QList<bool>{form.chkNbHeures->isEnabled(), form.chkVeille->isEnabled(), form.dtpDeb->isEnabled(),
                              form.txtPos[0]->isEnabled()}),
                 enabled);
        QTEST(fields(form), "shownFields");
        QVERIFY(h->store.writes.isEmpty());
        // The focus starts on the chime pattern, which neither Space nor Enter
        // can change; OK takes it when the pattern is greyed.
        QWidget *first = form.chkActiver->value() == 0 ? static_cast<QWidget *>(form.cmdOk)
                                                       : form.optCarillon[size_t(values[0])];
        QCOMPARE(QApplication::focusWidget(), first);
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
        h->store.set(stored);
        frmConfig &form = h->open();
        QCOMPARE(h->messages.texts.size(), 1);
        const QString text = h->messages.texts.front();
        QVERIFY2(text.startsWith(QStringLiteral("Survenue d'une erreur : ")) && text.contains(named), qPrintable(text));
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
        h->library.journal = &h->store.writes;
        h->store.set({"Réglages/Carillons=2", "Réglages/Visibilité=1", "Réglages/StartPos=2", "Position/Left=3000",
                      "Position/Top=1500", "Réglages/ForeColor=0", "Réglages/BackColor=16777215"});
        frmConfig &form = h->open();
        click(form.chkDémarrage);
        click(form.chkPlage);
        form.dtpDeb->setTime(QTime(8, 15, 0));
        click(form.optVisi[3]);
        click(form.optCarillon[3]);
        h->colours.answers = {QColor(255, 0, 0), std::nullopt, QColor(0, 0, 255)};
        click(form.cmdFond[0]);
        click(form.cmdFond[1]); // cancelled
        QCOMPARE(form.demoBackColor(), 0xFFFFFFu);
        click(form.cmdFond[1]);
        QCOMPARE(form.lblDemo->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QCOMPARE(form.lblDemo->palette().color(QPalette::Window), QColor(0, 0, 255));
        QCOMPARE(form.lblHorloge->palette().color(QPalette::Window), QColor(255, 255, 255));
        click(form.cmdOk);
        const QStringList expected{"Réglages/Carillons=3", "Réglages/Visibilité=3", "Run+",
                                   "Réglages/EnumHeures=1", "Réglages/Veille=1", "Réglages/Calendrier=0",
                                   "Plage/Check=1", "Plage/Debut=08:15:00", "Plage/Fin=20:00:00",
                                   "Réglages/Activer=1", "Réglages/ForeColor=255", "Réglages/BackColor=16711680",
                                   "Réglages/StartPos=2", "Position/Top=1500", "Position/Left=3000"};
        QCOMPARE(h->store.writes, expected);
        QVERIFY(!form.isVisible());
    }

    // By keypad Enter from a field or an option (from a check box, under the
    // style that toggles it, is shown end to end): the field is validated
    // before anything is stored.
    void okChecksThePositionFields_data()
    {
        QTest::addColumn<QStringList>("stored");
        // Typed into the fields when not empty.
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("written");
        // A message the dialog stays open with; none when it closes.
        QTest::addColumn<QString>("message");
        QTest::newRow("mode 0 leaves the position") << QStringList() << "" << QStringList() << "";
        QTest::newRow("beyond the screen") << QStringList{"Réglages/StartPos=1"} << "1025,769"
                                           << QStringList{"Position/Top=11520", "Position/Left=15360"} << "";
        QTest::newRow("stored beyond 16 bits, kept")
            << QStringList{"Réglages/StartPos=2", "Position/Left=45000", "Position/Top=150"} << ""
            << QStringList{"Position/Top=150", "Position/Left=45000"} << "";
        QTest::newRow("an emptied field") << QStringList{"Réglages/StartPos=1"} << "10," << QStringList()
                                          << "Valeur de position non valide.";
    }
    void okChecksThePositionFields()
    {
        QFETCH(QStringList, stored);
        QFETCH(QString, typed);
        QFETCH(QString, message);
        h->store.set(stored);
        frmConfig &form = h->open();
        if (!typed.isEmpty()) {
            type(form.txtPos[0], typed.section(QLatin1Char(','), 0, 0));
            type(form.txtPos[1], typed.section(QLatin1Char(','), 1));
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter, Qt::KeypadModifier);
        QTEST(h->store.writes.filter(QStringLiteral("Position/")), "written");
        QCOMPARE(form.isVisible(), !message.isEmpty());
        QCOMPARE(h->store.writes.isEmpty(), form.isVisible());
        QCOMPARE(h->messages.texts.filter(QStringLiteral("position")),
                 message.isEmpty() ? QStringList() : QStringList{message});
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
        // Chime pattern, visibility, chimes switched off; none when empty.
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("running");
        // The answers to the questions, Y or N, in turn.
        QTest::addColumn<QString>("answers");
        // What each message shown names, in turn.
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QString>("clockCalls");
        // 0: the dialog stays, 1: it closes, 2: it closes, the settings stored.
        QTest::addColumn<int>("ending");
        const QStringList nothing;
        const QList<int> none;
        const QStringList guard{"jamais audible ni jamais visible"};
        const QStringList ask{"Voulez-vous démarrer l'horloge"};
        QTest::newRow("Aucun and Jamais, No") << "" << nothing << QList<int>{0, 0, 0} << "OK" << false << "N" << guard
                                              << "find" << 0;
        QTest::newRow("Aucun and Jamais, chimes off, No")
            << "" << nothing << QList<int>{0, 0, 1} << "OK" << false << "N" << guard << "find" << 0;
        QTest::newRow("Aucun and Jamais, Yes: not asked to start")
            << "" << nothing << QList<int>{0, 0, 0} << "OK" << false << "Y" << guard << "find" << 2;
        QTest::newRow("Aucun while chiming, Yes")
            << "" << nothing << QList<int>{0, 1, 0} << "OK" << false << "Y" << ask << "find start" << 2;
        QTest::newRow("Tous and Jamais, chimes off, No")
            << "" << nothing << QList<int>{3, 0, 1} << "OK" << false << "N" << ask << "find" << 2;
        QTest::newRow("Escape, Yes") << "" << nothing << none << "Escape" << false << "Y" << ask << "find start" << 1;
        QTest::newRow("by the clock") << "AffichHorloge" << nothing << none << "Escape" << true << "" << nothing
                                      << "find promise start" << 1;
        QTest::newRow("by the clock, other letter case") << "affichhorloge" << nothing << none << "Escape" << true << ""
                                                         << nothing << "find promise close start" << 1;
        QTest::newRow("by the clock, further text")
            << "AffichHorloge 1" << nothing << none << "Escape" << false << "N" << ask << "find" << 1;
        QTest::newRow("ended twice, clock taken down")
            << "" << nothing << none << "twice" << true << "" << nothing << "find promise close start" << 1;
        QTest::newRow("ended twice, no clock")
            << "" << nothing << none << "twice" << false << "Y" << nothing << "find" << 1;
        QTest::newRow("a clock that cannot start") << "" << nothing << none << "Annuler" << true << ""
                                                   << QStringList{"programme introuvable"}
                                                   << "find promise close start" << 1;
        QTest::newRow("unreadable settings are never stored")
            << "" << QStringList{"Position/Top=99999999999"} << none << "OK" << true << ""
            << QStringList{"Survenue", "n'ont pas pu être lus"} << "find promise close start" << 1;
    }
    void okAndTheUnload()
    {
        QFETCH(QString, arguments);
        QFETCH(QStringList, stored);
        QFETCH(QList<int>, clicks);
        QFETCH(QString, how);
        QFETCH(QString, answers);
        QFETCH(QStringList, messages);
        QFETCH(int, ending);
        QFETCH(bool, running);
        h->clock.running = running;
        h->clock.startFails = how == QLatin1String("Annuler");
        int readsAtClose = -1;
        h->clock.onClose = [&] { readsAtClose = h->store.reads; };
        h->store.set(stored);
        for (const QChar answer : answers)
            h->messages.answers.push_back(answer == u'Y' ? MessageBox::Answer::Yes : MessageBox::Answer::No);
        frmConfig &form = h->open(arguments);
        QCOMPARE(form.RestartClock, h->clock.calls.contains(QStringLiteral("promise")));
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
        QCOMPARE(h->messages.texts.size(), messages.size());
        for (int i = 0; i < messages.size(); ++i)
            QVERIFY2(h->messages.texts[i].contains(messages[i]), qPrintable(h->messages.texts[i]));
        QTEST(h->clock.calls.join(QLatin1Char(' ')), "clockCalls");
        QCOMPARE(readsAtClose, h->clock.calls.contains(QStringLiteral("close")) ? 0 : -1);
        QCOMPARE(!h->store.writes.isEmpty(), ending == 2);
        if (ending)
            QCOMPARE(h->player.commands.mid(0, 2), (QStringList{"Stop", "Close"}));
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

    void helpOpensAtTheTopicBesideTheDialog_data()
    {
        QTest::addColumn<QPoint>("dialogAt");
        QTest::newRow("at the top-left corner") << QPoint(0, 0);
        QTest::newRow("at the right edge") << QPoint(1024 - 520, 100);
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
        QCOMPARE(help->browser()->source().fragment(), HelpWindow::anchor(80));
        QTRY_VERIFY(!help->frameGeometry().intersects(form.frameGeometry()));
        QCOMPARE(help->frameGeometry().top(), form.frameGeometry().top());
        QVERIFY(form.screen()->availableGeometry().contains(help->frameGeometry()));
        QVERIFY(h->messages.texts.isEmpty());
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
        auto form = std::make_unique<frmConfig>(h->services());
        if (!family.isEmpty())
            form->setFont(QFont(family, 9));
        form->Load(QString());
        int elided = 0;
        for (auto *control : form->findChildren<QWidget *>()) {
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
        if (family.isEmpty())
            QCOMPARE(elided, 0);
    }

    // Clicks on the chime options; the controls that end enabled and the
    // values of chkNbHeures and chkVeille.
    void enabledStatesFollowTheClicks_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<QStringList>("enabled");
        QTest::addColumn<QList<int>>("values");
        const QStringList on{"chkPlage", "chkVeille", "chkNbHeures", "Aucun", "Tous"};
        const QStringList none;
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
        h->store.set(stored);
        frmConfig &form = h->open();
        const QMap<QString, QWidget *> controls{
            {"chkActiver", form.chkActiver},   {"chkPlage", form.chkPlage},       {"chkVeille", form.chkVeille},
            {"chkNbHeures", form.chkNbHeures}, {"Aucun", form.optCarillon[0]},    {"Heures", form.optCarillon[1]},
            {"Tous", form.optCarillon[3]},     {"dtpDeb", form.dtpDeb}};
        for (const QString &name : clicks)
            click(controls.value(name));
        QStringList isEnabled;
        for (const char *name : {"chkPlage", "chkVeille", "chkNbHeures", "Aucun", "Tous", "dtpDeb"})
            if (controls.value(QString::fromLatin1(name))->isEnabled())
                isEnabled << QString::fromLatin1(name);
        QTEST(isEnabled, "enabled");
        QCOMPARE(form.dtpFin->isEnabled(), form.dtpDeb->isEnabled());
        QTEST((QList<int>{form.chkNbHeures->value(), form.chkVeille->value()}), "values");
        // The switch never touches the audition.
        QVERIFY(form.cboCar->isEnabled() && form.cmdPlay->isEnabled());
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
        QTest::newRow("Moins le quart") << 3 << QList<int>{ok} << QStringList{"Carill4.mp3"} << "";
        QTest::newRow("stopped during the melody")
            << 0 << QList<int>{-1, int(ChimePlayer::NotifyAborted), ok} << QStringList{"Carill1.mp3"} << "";
        QTest::newRow("melody failed")
            << 0 << QList<int>{int(ChimePlayer::NotifyFailure), ok} << QStringList{"Carill1.mp3"} << "";
        QTest::newRow("stopped between melody and strikes")
            << 0 << QList<int>{ok} << QStringList{"Carill1.mp3"} << "stop in yield";
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
        QTest::newRow("two signs") << 0 << "1-2" << "" << "";
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
            QCOMPARE(h->messages.texts, QStringList{"Valeur de position non valide."});
            QVERIFY(edited->hasFocus());
            QCOMPARE(edited->selectedText(), pasted);
            QCOMPARE(edited->text(), pasted);
            QVERIFY(form.isVisible() && h->store.writes.isEmpty() && form.optPlace[2]->isChecked());
            QCOMPARE(form.StartPosIndex, 2);
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
        type(form.txtPos[0], QStringLiteral("512"));
        type(form.txtPos[1], QStringLiteral("384"));
        QTest::keyClick(form.txtPos[1], Qt::Key_Tab);
        QCOMPARE(miniClock(form), QPoint(66, 49));
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
    }
    void dragsThatEndWithoutMoving()
    {
        QFETCH(QString, over);
        frmConfig &form = openInMode(1);
        const QPoint before = miniClock(form);
        const QString shown = fields(form);
        if (over == QLatin1String("itself")) {
            drag(form, QPoint(3, 3), form.picHor->mapTo(&form, QPoint(6, 5)));
        } else {
            // Dragged out through a surface, back over the picture, and dropped there.
            const bool frame = over == QLatin1String("frame");
            const QPoint surface = frame ? form.fraPlace->mapTo(&form, QPoint(100, form.fraPlace->height() - 8))
                                         : QPoint(250, form.fraPlace->geometry().bottom() + 6);
            QCOMPARE(form.childAt(surface), frame ? form.fraPlace : nullptr);
            drag(form, QPoint(3, 3), inPicture(form, QPoint(90, 70)), surface);
        }
        QCOMPARE(miniClock(form), before);
        QCOMPARE(fields(form), shown);
    }

    void wallpaperLookups_data()
    {
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<int>("lookups");
        QTest::addColumn<bool>("drawn");
        // "%1" stands for a picture that is there.
        QTest::newRow("none present") << QStringList() << 4 << false;
        QTest::newRow("three characters are not a path") << QStringList{"C:\\", "%1"} << 2 << true;
        QTest::newRow("four characters are") << QStringList{"/a.b", "%1"} << 1 << false;
        QTest::newRow("the converted wallpaper last") << QStringList{"x", "", "", "%1"} << 4 << true;
    }
    void wallpaperLookups()
    {
        QFETCH(QStringList, values);
        QFETCH(int, lookups);
        QFETCH(bool, drawn);
        const QString picture = image(QSize(64, 48));
        for (int i = 0; i < values.size(); ++i)
            h->library.userValues[places[i]] = QString(values[i]).replace(QStringLiteral("%1"), picture);
        frmConfig &form = h->open();
        QCOMPARE(h->library.userLookups, places.mid(0, lookups));
        QCOMPARE(!form.picScreen->canvas().isNull(), drawn);
        QCOMPARE(form.timSimul->isActive(), drawn);
        if (values.isEmpty()) {
            // No wallpaper: the box keeps its design size, 2048 × 1536 twips at 4440.
            QCOMPARE(form.picScreen->geometry(), QRect(296, 24, 137, 102));
            QCOMPARE(form.lblHorloge->text(), QStringLiteral("00:00:00"));
            QVERIFY(h->messages.texts.isEmpty());
            showsTheDesktop(form, colourFromValue(0x80000001, form.palette()));
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
        h->library.userValues[places[2]] = image(size);
        frmConfig &form = h->open();
        QCOMPARE(h->messages.texts, QStringList());
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

    // A missing file is told and the load goes on with the mini clock and
    // the help file; any other unreadable file ends the load.
    void aWallpaperThatCannotBeRead_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("loadGoesOn");
        QTest::newRow("missing") << QByteArray() << true;
        QTest::newRow("text") << QByteArray("ceci n'est pas une image\n") << false;
        QTest::newRow("truncated PNG") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0", 18) << false;
    }
    void aWallpaperThatCannotBeRead()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, loadGoesOn);
        const QString path = m_files.filePath(QStringLiteral("image.png"));
        QFile::remove(path);
        QFile out(path);
        QVERIFY(loadGoesOn || (out.open(QIODevice::WriteOnly) && out.write(content) == content.size()));
        out.close();
        h->library.userValues[places[2]] = path;
        frmConfig &form = openInMode(1, 7680, 5760);
        QCOMPARE(h->messages.texts.size(), 1);
        const QString message = h->messages.texts[0];
        QVERIFY2(message.startsWith(QStringLiteral("Survenue d'une erreur : ")) != loadGoesOn && message.contains(path),
                 qPrintable(message));
        QVERIFY(form.picScreen->canvas().isNull());
        QVERIFY(!form.timSimul->isActive());
        QCOMPARE(form.helpFile().isEmpty(), !loadGoesOn);
        if (loadGoesOn) {
            // The box took the screen's proportions, and the mini clock is in its middle.
            QCOMPARE(form.picScreen->width(), 136);
            QCOMPARE(miniClock(form), QPoint(66, 49));
        }
    }
};

int main(int argc, char **argv)
{
    QTemporaryDir home;
    const QString runtime = home.path() + QStringLiteral("/runtime");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()) + "/config");
    TestDisplay display;
    if (!display.start(QStringLiteral("1024x768x24"))) {
        qCritical("cannot start Xvfb");
        return 1;
    }
    qputenv("DISPLAY", display.name().toLatin1());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    tst_ConfigDialog test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_configdialog.moc"
