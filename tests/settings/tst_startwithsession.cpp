#include "Configuration.h"
#include "IniSettingsStore.h"
#include "MessageBox.h"
#include "ProbeRun.h"
#include "ProgramFolder.h"
#include "StartupLibrary.h"

#include <QJsonArray>
#include <QtTest>

namespace {

const QString runKey = QStringLiteral("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");

class RecordingMessageBox : public MessageBox
{
public:
    QStringList texts;
    Answer show(const QString &, const QString &text, Icon, Buttons) override
    {
        texts << text;
        return Answer::Ok;
    }
};

// Records the calls; the entry is a text it holds.
class FakeStartupLibrary : public StartupLibrary
{
public:
    QString entry;
    QStringList calls;

    QString CléLectureValeur(ostrevol::HKey HKey, const QString &Chemin, const QString &Clé,
                             bool MessageErreur) override
    {
        calls << QStringLiteral("read %1 %2 %3 %4").arg(uint(HKey), 0, 16).arg(Chemin, Clé).arg(MessageErreur);
        return entry;
    }
    bool RegDemarrAjoutApp(const QString &AppTitre, const QString &AppChemin, const QString &AppNomExe,
                           bool MessageErreur) override
    {
        calls << QStringLiteral("add %1 %2 %3 %4").arg(AppTitre, AppChemin, AppNomExe).arg(MessageErreur);
        entry = AppChemin + QLatin1Char('/') + AppNomExe;
        return true;
    }
    bool RegDemarrSupprimApp(const QString &AppTitre, bool MessageErreur) override
    {
        calls << QStringLiteral("remove %1 %2").arg(AppTitre).arg(MessageErreur);
        entry.clear();
        return true;
    }
};

} // namespace

class tst_StartWithSession : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    RecordingMessageBox m_messages;
    std::unique_ptr<StartupLibrary> m_library;
    std::unique_ptr<IniSettingsStore> m_store;

    QString root() const { return m_dir->path(); }
    QString entryPath() const { return root() + QStringLiteral("/system/autostart/Tintarel.desktop"); }
    void writeEntry(const QByteArray &text)
    {
        QDir().mkpath(QFileInfo(entryPath()).absolutePath());
        QFile file(entryPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    QByteArray readEntry() const
    {
        QFile file(entryPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    std::unique_ptr<Configuration> create()
    {
        SettingsError error;
        auto config = Configuration::create(*m_store, &error, m_library.get());
        if (!config)
            qWarning("%s", qPrintable(error.description()));
        return config;
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        const QProcessEnvironment environment = probeEnvironment(root());
        for (const QString &name : {QStringLiteral("XDG_CONFIG_HOME"), QStringLiteral("XDG_CONFIG_DIRS"),
                                    QStringLiteral("XDG_DATA_HOME"), QStringLiteral("XDG_RUNTIME_DIR")})
            qputenv(name.toUtf8().constData(), environment.value(name).toUtf8());
        m_messages.texts.clear();
        QString error;
        m_library = StartupLibrary::load(QStringLiteral(TINTAREL_PROGRAM_DIR), m_messages, &error);
        QVERIFY2(m_library, qPrintable(error));
        m_store = std::make_unique<IniSettingsStore>(root() + QStringLiteral("/home/Tintarel/Tintarel.ini"));
    }

    void derivedFromTheEntry_data()
    {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<int>("Démarrage");
        QTest::newRow("no entry") << QByteArray() << 0;
        QTest::newRow("entry naming another folder")
            << QByteArray("[Desktop Entry]\nType=Application\nName=Tintarel\nExec=/ailleurs/Tintarel\n") << 1;
        QTest::newRow("entry naming no program") << QByteArray("[Desktop Entry]\nType=Application\n") << 0;
        QTest::newRow("entry hidden by its author")
            << QByteArray("[Desktop Entry]\nExec=/ailleurs/Tintarel\nHidden=true\n") << 0;
    }

    void derivedFromTheEntry()
    {
        QFETCH(QByteArray, entry);
        QFETCH(int, Démarrage);
        if (!entry.isEmpty())
            writeEntry(entry);
        const auto config = create();
        QVERIFY(config);
        QCOMPARE(config->Démarrage(), Démarrage);
        QCOMPARE(readEntry(), entry);
        QVERIFY(m_messages.texts.isEmpty());
    }

    void assigningAddsAndRemovesTheEntry()
    {
        const auto config = create();
        QVERIFY(config);
        QCOMPARE(config->Démarrage(), 0);
        config->setDémarrage(1);
        QCOMPARE(config->Démarrage(), 1);
        QCOMPARE(m_library->CléLectureValeur(ostrevol::HKey::HKEY_LOCAL_MACHINE, runKey, QStringLiteral("Tintarel"), false),
                 programFolder() + QStringLiteral("/Tintarel"));
        config->setDémarrage(0);
        QCOMPARE(config->Démarrage(), 0);
        QVERIFY(!QFile::exists(entryPath()));
        QVERIFY(m_messages.texts.isEmpty());
    }

    void entryOfAnotherFolderIsKept()
    {
        const QByteArray entry("[Desktop Entry]\nType=Application\nName=Tintarel\nExec=/ailleurs/Tintarel\n");
        writeEntry(entry);
        const auto config = create();
        QVERIFY(config);
        config->setDémarrage(1);
        QCOMPARE(config->Démarrage(), 1);
        QCOMPARE(readEntry(), entry);
    }

    void callsMadeOnAssignment_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("assigned");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<int>("Démarrage");
        const QString read = QStringLiteral("read 80000002 %1 Tintarel 0").arg(runKey);
        const QString add = QStringLiteral("add Tintarel %1 Tintarel 1").arg(programFolder());
        QTest::newRow("0 while 0") << "" << 0 << QStringList{read} << 0;
        QTest::newRow("1 while 0") << "" << 1 << QStringList{add, read} << 1;
        QTest::newRow("1 while 1") << "/ailleurs/Tintarel" << 1 << QStringList{read} << 1;
        QTest::newRow("0 while 1") << "/ailleurs/Tintarel" << 0 << QStringList{"remove Tintarel 0", read} << 0;
        QTest::newRow("2 while 0") << "" << 2 << QStringList{read} << 0;
        QTest::newRow("-1 while 1") << "/ailleurs/Tintarel" << -1 << QStringList{read} << 1;
    }

    void callsMadeOnAssignment()
    {
        QFETCH(QString, entry);
        QFETCH(int, assigned);
        QFETCH(QStringList, calls);
        QFETCH(int, Démarrage);
        FakeStartupLibrary library;
        library.entry = entry;
        const auto config = Configuration::create(*m_store, nullptr, &library);
        QVERIFY(config);
        library.calls.clear();
        config->setDémarrage(assigned);
        QCOMPARE(library.calls, calls);
        QCOMPARE(config->Démarrage(), Démarrage);
        QVERIFY(!QFile::exists(root() + QStringLiteral("/home/Tintarel/Tintarel.ini")));
    }

    void readOnlyRunFolder_data()
    {
        QTest::addColumn<bool>("entryExists");
        QTest::newRow("no entry") << false;
        QTest::newRow("entry of another folder") << true;
    }

    // Where the folder cannot be opened for writing, the add fails with the
    // library's message and the entry cannot be read back either.
    void readOnlyRunFolder()
    {
        QFETCH(bool, entryExists);
        QDir().mkpath(root() + QStringLiteral("/system/autostart"));
        if (entryExists)
            writeEntry("[Desktop Entry]\nType=Application\nName=Tintarel\nExec=/ailleurs/Tintarel\n");
        const ProbeRun run = runProbe(QStringLiteral(OSTREVOL_PROBE), {QStringLiteral("demarrage"), QStringLiteral("1")},
                                      root(), root() + QStringLiteral("/system/autostart"));
        if (run.namespaceRefused)
            QSKIP(qPrintable(QStringLiteral("No private mount namespace here: ") + run.failure));
        QVERIFY2(run.failure.isEmpty(), qPrintable(run.failure));
        QCOMPARE(run.report.value(QStringLiteral("before")).toInt(), 0);
        QCOMPARE(run.report.value(QStringLiteral("after")).toInt(), 0);
        const QJsonArray messages = run.report.value(QStringLiteral("messages")).toArray();
        QCOMPARE(messages.size(), 1);
        QVERIFY(messages[0].toObject().value(QStringLiteral("text")).toString().contains(
            QStringLiteral("DLL Returned=5Impossible d'ajouter l'application \"Tintarel\"")));
    }

    void libraryMissingFailsCreation()
    {
        const QString folder = root() + QStringLiteral("/program");
        QDir().mkpath(folder);
        QVERIFY(QFile::copy(QStringLiteral(OSTREVOL_PROBE), folder + QStringLiteral("/ostrevol_probe")));
        const ProbeRun run = runProbe(folder + QStringLiteral("/ostrevol_probe"), {QStringLiteral("settings")}, root());
        QVERIFY2(run.failure.isEmpty(), qPrintable(run.failure));
        QCOMPARE(run.report.value(QStringLiteral("created")).toBool(), false);
        QVERIFY2(run.report.value(QStringLiteral("error")).toString().contains(folder + QStringLiteral("/libOstrevol.so")),
                 qPrintable(run.report.value(QStringLiteral("error")).toString()));
    }
};

QTEST_GUILESS_MAIN(tst_StartWithSession)
#include "tst_startwithsession.moc"
