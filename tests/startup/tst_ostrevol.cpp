#include "ClassFactory.h"
#include "Ostrevol.h"
#include "ProbeRun.h"

#include <QJsonArray>
#include <QtTest>

#include <cstdlib>
#include <dlfcn.h>
#include <map>

namespace {

const QString library = QStringLiteral(TINTAREL_PROGRAM_DIR "/libOstrevol.so");
const QString runKey = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Run");

class Application : public ostrevol::IApplicationObject
{
public:
    std::map<std::string, std::string> properties;
    const char *property(const char *name) const override
    {
        const auto found = properties.find(name);
        return found == properties.end() ? nullptr : found->second.c_str();
    }
};

class Messages : public ostrevol::IMessageBoxHost
{
public:
    struct Shown
    {
        QString caption;
        QString text;
        std::uint32_t style;
    };
    QList<Shown> shown;
    void showMessage(const char *caption, const char *text, std::uint32_t style) override
    {
        shown.append({QString::fromUtf8(caption), QString::fromUtf8(text), style});
    }
};

QString lastText(ostrevol::_DemarrApp &app, const QString &name)
{
    char *text = nullptr;
    if (!inproc::succeeded(app.CléLectureValeur(ostrevol::HKey::HKEY_LOCAL_MACHINE, runKey.toUtf8().constData(),
                                                name.toUtf8().constData(), false, &text)))
        return QStringLiteral("(call failed)");
    const QString value = QString::fromUtf8(text);
    std::free(text);
    return value;
}

} // namespace

class tst_Ostrevol : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString root() const { return m_dir->path(); }
    QString autostart() const { return root() + QStringLiteral("/system/autostart"); }

    // A program folder of its own holding a copy of the probe, and of the
    // library when asked.
    QString programFolderWith(const QString &name, bool withLibrary)
    {
        const QString folder = root() + QLatin1Char('/') + name;
        QDir().mkpath(folder);
        QFile::copy(QStringLiteral(OSTREVOL_PROBE), folder + QStringLiteral("/ostrevol_probe"));
        if (withLibrary)
            QFile::copy(library, folder + QStringLiteral("/libOstrevol.so"));
        return folder;
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        const QProcessEnvironment environment = probeEnvironment(root());
        for (const QString &name : {QStringLiteral("XDG_CONFIG_HOME"), QStringLiteral("XDG_CONFIG_DIRS"),
                                    QStringLiteral("XDG_DATA_HOME"), QStringLiteral("XDG_RUNTIME_DIR")})
            qputenv(name.toUtf8().constData(), environment.value(name).toUtf8());
    }

    void loadingByClassId_data()
    {
        QTest::addColumn<bool>("libraryInFolder");
        QTest::addColumn<QString>("registration"); // "", "registered", "unregistered", "registered, then removed"
        QTest::addColumn<QString>("variant");
        QTest::addColumn<bool>("created");
        QTest::addColumn<QString>("errorNames");

        const QString classId = guidText(ostrevol::CLSID_DemarrApp);
        QTest::newRow("registered") << false << "registered" << "" << true << "";
        QTest::newRow("unregistered: the program folder") << true << "" << "" << true << "";
        QTest::newRow("registration removed") << false << "unregistered" << "" << false << "{folder}/libOstrevol.so";
        QTest::newRow("registered library gone") << true << "registered, then removed" << "" << false
                                                 << "{root}/registered/libOstrevol.so";
        QTest::newRow("library missing") << false << "" << "" << false << "{folder}/libOstrevol.so";
        QTest::newRow("wrong class id") << true << "" << "wrong-class" << false << "{0BADC0DE-1111-2222-0102-030405060708}";
        QTest::newRow("wrong interface id") << true << "" << "wrong-interface" << false
                                            << "l'interface {0BADC0DE-1111-2222-0102-030405060708}";
    }

    // Each case in a program started from a folder of its own, as the
    // programs look beside themselves.
    void loadingByClassId()
    {
        QFETCH(bool, libraryInFolder);
        QFETCH(QString, registration);
        QFETCH(QString, variant);
        QFETCH(bool, created);
        QFETCH(QString, errorNames);

        const QString folder = programFolderWith(QStringLiteral("program"), libraryInFolder);
        const QString probe = folder + QStringLiteral("/ostrevol_probe");
        if (!registration.isEmpty()) {
            const QString registered = programFolderWith(QStringLiteral("registered"), true)
                + QStringLiteral("/libOstrevol.so");
            ProbeRun step = runProbe(probe, {QStringLiteral("register"), registered}, root());
            QVERIFY2(step.failure.isEmpty(), qPrintable(step.failure));
            QCOMPARE(step.report.value(QStringLiteral("result")).toInt(), 0);
            if (registration == QLatin1String("unregistered")) {
                step = runProbe(probe, {QStringLiteral("unregister"), registered}, root());
                QCOMPARE(step.report.value(QStringLiteral("result")).toInt(), 0);
            }
            if (registration == QLatin1String("registered, then removed"))
                QVERIFY(QFile::remove(registered));
        }

        const ProbeRun run = runProbe(probe, {QStringLiteral("create"), variant}, root());
        QVERIFY2(run.failure.isEmpty(), qPrintable(run.failure));
        QCOMPARE(run.report.value(QStringLiteral("created")).toBool(), created);
        const QString error = run.report.value(QStringLiteral("error")).toString();
        QVERIFY2(error.contains(QString(errorNames).replace(QStringLiteral("{folder}"), folder)
                                    .replace(QStringLiteral("{root}"), root())),
                 qPrintable(error));
    }

    void registrationRecordsTheClass()
    {
        auto registerServer = [](const char *entryPoint) {
            void *handle = ::dlopen(QFile::encodeName(library).constData(), RTLD_NOW | RTLD_LOCAL);
            const auto function = reinterpret_cast<inproc::DllRegisterServerFunction>(::dlsym(handle, entryPoint));
            const inproc::HRESULT result = function();
            ::dlclose(handle);
            return result;
        };
        QCOMPARE(registerServer("DllRegisterServer"), inproc::S_OK);
        const auto recorded = readClassRegistration(ostrevol::CLSID_DemarrApp);
        QVERIFY(recorded);
        QCOMPARE(recorded->libraryPath, QFileInfo(library).absoluteFilePath());
        QCOMPARE(recorded->threadingModel, QStringLiteral("Apartment"));
        QCOMPARE(recorded->progId, QStringLiteral("Ostrevol.DemarrApp"));
        QVERIFY(recorded->iid == ostrevol::IID__DemarrApp);
        QVERIFY(recorded->libid == ostrevol::LIBID_Ostrevol);
        QCOMPARE(recorded->typeLibraryName, QStringLiteral("Ostrevol"));
        QCOMPARE(recorded->typeLibraryVersion, QStringLiteral("7.0"));
        QCOMPARE(recorded->typeLibraryHelpString, QStringLiteral("Interventions sur la base de registre Windows"));
        QVERIFY(classRegistrationFile().startsWith(root() + QStringLiteral("/data/")));

        QCOMPARE(registerServer("DllUnregisterServer"), inproc::S_OK);
        QVERIFY(!readClassRegistration(ostrevol::CLSID_DemarrApp));
    }

    void typeInformation_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("dispatchId");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("helpString");
        const QString run = QStringLiteral("\"Software\\Microsoft\\Windows\\CurrentVersion\\Run\"");
        QTest::newRow("RegDemarrAjouter")
            << 0 << 0x60030000 << "RegDemarrAjouter"
            << "Ajoute à la clef de registre " + run
                   + " le nom et le chemin de l'application pour obtenir son démarrage à chaque session Windows.";
        QTest::newRow("RegDemarrSupprimer")
            << 1 << 0x60030001 << "RegDemarrSupprimer"
            << "Supprime dans  la clef de registre " + run
                   + " le nom et le chemin de l'application pour annuler son démarrage à chaque session Windows.";
        QTest::newRow("CléLectureValeur")
            << 2 << 0x60030002 << "CléLectureValeur"
            << "Renvoie la valeur d'une clef donnée. HKey : choisir dans les valeurs le registre qui convient. "
               "Chemin : ne doit ni commencer ni finir par \"\\\" . Renvoie un texte vide en cas d'erreur.";
        QTest::newRow("RegDemarrAjoutApp")
            << 3 << 0x60030003 << "RegDemarrAjoutApp"
            << "Ajoute à la clef de registre " + run
                   + " le nom et le chemin de l'application précisés dans des arguments séparés  pour obtenir son "
                     "démarrage à chaque session Windows.";
        QTest::newRow("RegDemarrSupprimApp")
            << 4 << 0x60030004 << "RegDemarrSupprimApp"
            << "Supprime dans  la clef de registre " + run
                   + " le nom et le chemin de l'application avec pour argument le titre de l'application  pour "
                     "annuler son démarrage à chaque session Windows.";
    }

    // Read from the library file itself, as a type browser would.
    void typeInformation()
    {
        QFETCH(int, index);
        QFETCH(int, dispatchId);
        QFETCH(QString, name);
        QFETCH(QString, helpString);
        void *handle = ::dlopen(QFile::encodeName(library).constData(), RTLD_NOW | RTLD_LOCAL);
        QVERIFY(handle);
        const auto get = reinterpret_cast<ostrevol::OstrevolGetTypeLibraryFunction>(
            ::dlsym(handle, "OstrevolGetTypeLibrary"));
        QVERIFY(get);
        const ostrevol::OstrevolTypeLibrary &types = *get();
        QCOMPARE(QString::fromUtf8(types.name), QStringLiteral("Ostrevol"));
        QCOMPARE(types.typeCount, 3u);
        const ostrevol::OstrevolTypeInfo &interface = types.types[0];
        QCOMPARE(QString::fromUtf8(interface.name), QStringLiteral("_DemarrApp"));
        QCOMPARE(interface.methodCount, 5u);
        const ostrevol::OstrevolMethodInfo &method = interface.methods[index];
        QCOMPARE(method.dispatchId, dispatchId);
        QCOMPARE(QString::fromUtf8(method.name), name);
        QCOMPARE(QString::fromUtf8(method.helpString), helpString);
        const ostrevol::OstrevolParameterInfo &last = method.parameters[method.parameterCount - 1];
        QCOMPARE(QString::fromUtf8(last.name), QStringLiteral("MessageErreur"));
        QVERIFY(last.optional);
        QCOMPARE(QString::fromUtf8(last.defaultValue), QStringLiteral("True"));
        QCOMPARE(QString::fromUtf8(types.types[1].name), QStringLiteral("DemarrApp"));
        QCOMPARE(QString::fromUtf8(types.types[2].name), QStringLiteral("HKey"));
        QCOMPARE(types.types[2].members[2].value, 0x80000002u);
        ::dlclose(handle);
    }

    // Through the boundary as the programs cross it, on the real folder.
    void addReadRemoveThroughTheLibrary()
    {
        QString error;
        auto app = createInstance<ostrevol::_DemarrApp>(ostrevol::CLSID_DemarrApp, ostrevol::IID__DemarrApp,
                                                        QStringLiteral(TINTAREL_PROGRAM_DIR),
                                                        QStringLiteral("libOstrevol.so"), &error);
        QVERIFY2(app, qPrintable(error));
        Messages messages;
        auto site = app.query<ostrevol::IMessageBoxSite>(ostrevol::IID_IMessageBoxSite);
        QVERIFY(site);
        site->SetMessageBoxHost(&messages);

        bool done = false;
        QCOMPARE(app->RegDemarrAjoutApp("Tintarel", "/opt/Mon $Horloge", "Tintarel", &done), inproc::S_OK);
        QVERIFY(done);
        QVERIFY(QFile::exists(autostart() + QStringLiteral("/Tintarel.desktop")));
        QCOMPARE(lastText(*app.get(), QStringLiteral("Tintarel")), QStringLiteral("/opt/Mon $Horloge/Tintarel"));
        QCOMPARE(app->RegDemarrSupprimApp("Tintarel", false, &done), inproc::S_OK);
        QVERIFY(done);
        QCOMPARE(lastText(*app.get(), QStringLiteral("Tintarel")), QString());
        QVERIFY(messages.shown.isEmpty());

        QCOMPARE(app->RegDemarrSupprimApp("Tintarel", false, &done), inproc::S_OK);
        QVERIFY(!done);
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown[0].caption, QStringLiteral("ODBC Registry"));
        QCOMPARE(messages.shown[0].style, ostrevol::MB_OK | ostrevol::MB_ICONWARNING);
        site->SetMessageBoxHost(nullptr);
    }

    void applicationObjectLackingAPropertyFailsTheCall()
    {
        QString error;
        auto app = createInstance<ostrevol::_DemarrApp>(ostrevol::CLSID_DemarrApp, ostrevol::IID__DemarrApp,
                                                        QStringLiteral(TINTAREL_PROGRAM_DIR),
                                                        QStringLiteral("libOstrevol.so"), &error);
        QVERIFY2(app, qPrintable(error));
        Application application;
        application.properties = {{"Title", "Tintarel"}, {"Path", "/opt/prog"}};
        bool done = true;
        QCOMPARE(app->RegDemarrAjouter(&application, &done), inproc::DISP_E_UNKNOWNNAME);
        QVERIFY(!done);
        QVERIFY(!QFileInfo::exists(autostart() + QStringLiteral("/Tintarel.desktop")));

        application.properties["EXEName"] = "Tintarel";
        QCOMPARE(app->RegDemarrAjouter(&application, &done), inproc::S_OK);
        QCOMPARE(lastText(*app.get(), QStringLiteral("Tintarel")), QStringLiteral("/opt/prog/Tintarel"));
    }

    void readOnlyRunFolder_data()
    {
        QTest::addColumn<bool>("MessageErreur");
        QTest::newRow("asked") << true;
        QTest::newRow("not asked") << false;
    }

    void readOnlyRunFolder()
    {
        QFETCH(bool, MessageErreur);
        QDir().mkpath(autostart());
        const ProbeRun run = runProbe(QStringLiteral(OSTREVOL_PROBE),
                                      {QStringLiteral("add"), QStringLiteral("Tintarel"), QStringLiteral("/opt/prog"),
                                       QStringLiteral("Tintarel"), MessageErreur ? QStringLiteral("1") : QStringLiteral("0")},
                                      root(), autostart());
        if (run.namespaceRefused)
            QSKIP(qPrintable(QStringLiteral("No private mount namespace here: ") + run.failure));
        QVERIFY2(run.failure.isEmpty(), qPrintable(run.failure));
        QCOMPARE(run.report.value(QStringLiteral("result")).toBool(), false);
        const QJsonArray messages = run.report.value(QStringLiteral("messages")).toArray();
        QCOMPARE(messages.size(), MessageErreur ? 1 : 0);
        if (MessageErreur) {
            const QJsonObject message = messages[0].toObject();
            QCOMPARE(message.value(QStringLiteral("caption")).toString(), QStringLiteral("Ostrevol"));
            QVERIFY(message.value(QStringLiteral("warning")).toBool() && message.value(QStringLiteral("ok")).toBool());
            QVERIFY2(message.value(QStringLiteral("text")).toString().startsWith(
                         "Error Creating Registry Key Entry:\nKey=" + runKey
                         + "\nDLL Returned=5Impossible d'ajouter l'application \"Tintarel\""),
                     qPrintable(message.value(QStringLiteral("text")).toString()));
        }
        QCOMPARE(QDir(autostart()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
    }
};

QTEST_GUILESS_MAIN(tst_Ostrevol)
#include "tst_ostrevol.moc"
