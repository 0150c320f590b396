#pragma once

// Stand-ins for what the configuration dialog works with, each of which
// records what it was asked, and a harness that opens the real dialog over
// them.

#include "ChimePlayer.h"
#include "ClockControl.h"
#include "ColourChooser.h"
#include "MessageBox.h"
#include "SettingsStore.h"
#include "StartupLibrary.h"
#include "TestDisplay.h"
#include "frmConfig.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QMap>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <deque>
#include <functional>
#include <memory>

class FakeMessageBox : public MessageBox
{
public:
    Answer show(const QString &, const QString &text, Icon, Buttons buttons) override
    {
        texts << text;
        questions << (buttons == Buttons::YesNo);
        if (buttons == Buttons::Ok)
            return Answer::Ok;
        if (answers.empty())
            return Answer::No;
        const Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }

    QStringList texts;
    // Whether each box shown asked Yes or No.
    QList<bool> questions;
    // Answers to Yes/No questions, in turn; No once they run out.
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

// Records the files it is given and the commands, in order.
class FakePlayer : public ChimePlayer
{
public:
    void setDeviceType(const QString &deviceType) override { m_deviceType = deviceType; }
    QString deviceType() const override { return m_deviceType; }
    void setFileName(const QString &fileName) override
    {
        m_fileName = fileName;
        files << fileName.section(QLatin1Char('/'), -1);
    }
    QString fileName() const override { return m_fileName; }
    void setNotify(bool) override {}
    Result command(const QString &command) override
    {
        commands << command;
        return failCommands ? Result::CannotOpenFile : Result::Ok;
    }
    int mode() const override { return ModeStopped; }
    void setCompletionHandler(CompletionHandler handler) override { m_handler = std::move(handler); }

    // Delivers a completion notice as the event loop would.
    void complete(int code)
    {
        if (m_handler)
            m_handler(code);
    }

    QStringList files;
    QStringList commands;
    bool failCommands = false;

private:
    QString m_deviceType;
    QString m_fileName;
    CompletionHandler m_handler;
};

class FakeColourChooser : public ColourChooser
{
public:
    std::optional<QColor> choose(QWidget *) override
    {
        if (answers.empty())
            return std::nullopt;
        const auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::deque<std::optional<QColor>> answers;
};

// Settings in memory; every write is recorded in order and can be refused.
class RecordingStore : public SettingsStore
{
public:
    std::optional<QString> read(const QString &section, const QString &key) const override
    {
        ++reads;
        const auto it = values.find(section + QLatin1Char('/') + key);
        return it == values.end() ? std::nullopt : std::optional<QString>(*it);
    }
    bool write(const QString &section, const QString &key, const QString &text) override
    {
        const QString name = section + QLatin1Char('/') + key;
        if (name == refuse)
            return false;
        writes << name + QLatin1Char('=') + text;
        values[name] = text;
        return true;
    }
    QString location() const override { return QStringLiteral("la mémoire du test"); }

    // Sets stored text from "Section/Key=text" lines.
    void set(const QStringList &lines)
    {
        for (const QString &line : lines)
            values[line.section(QLatin1Char('='), 0, 0)] = line.section(QLatin1Char('='), 1);
    }

    QMap<QString, QString> values;
    QStringList writes;
    mutable int reads = 0;
    // A key ("Section/Key") whose writes fail.
    QString refuse;
};

// The startup-registration library: the session-start entry and the
// wallpaper values of the per-user tree.
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
    // Where the session-start entry's changes are written down, if anywhere.
    QStringList *journal = nullptr;
    // "key path|value name" → text.
    QMap<QString, QString> userValues;
    QStringList userLookups;
};

// A click where a user clicks: check boxes and option buttons take clicks
// on their indicator and text only.
inline void click(QWidget *control)
{
    const bool indicator = qobject_cast<QAbstractButton *>(control) && !qobject_cast<QPushButton *>(control);
    QTest::mouseClick(control, Qt::LeftButton, {}, indicator ? QPoint(6, control->height() / 2) : control->rect().center());
}

// Both position fields as "x,y".
inline QString fields(const frmConfig &form)
{
    return form.txtPos[0]->text() + QLatin1Char(',') + form.txtPos[1]->text();
}

// The dialog over the fakes, opened as the program opens it.
class DialogHarness
{
public:
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
    frmConfig::Services services(ChimePlayer *otherPlayer = nullptr, const QString &otherFolder = QString())
    {
        return {messages, clock, otherPlayer ? *otherPlayer : player, colours, store, &library,
                otherFolder.isEmpty() ? folder : otherFolder, [this] { ++beeps; }, yield};
    }

    FakeMessageBox messages;
    FakeClockControl clock;
    FakePlayer player;
    FakeColourChooser colours;
    RecordingStore store;
    FakeStartupLibrary library;
    QString folder = QStringLiteral(TINTAREL_PROGRAM_DIR);
    std::function<void()> yield;
    int beeps = 0;
    std::unique_ptr<frmConfig> form;
};

// Starts an X server of the test's own with the given screen before the
// application connects to it, in a temporary home.
template <class TestClass>
int runPanelTest(int argc, char **argv, const char *screen)
{
    QTemporaryDir home;
    const QString runtime = home.path() + QStringLiteral("/runtime");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()) + "/config");
    TestDisplay display;
    if (!display.start(QString::fromLatin1(screen))) {
        qCritical("cannot start Xvfb");
        return 1;
    }
    qputenv("DISPLAY", display.name().toLatin1());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    TestClass test;
    return QTest::qExec(&test, argc, argv);
}
