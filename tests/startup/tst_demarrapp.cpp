#include "DemarrApp.h"
#include "FakeRegistry.h"

#include <QtTest>

#include <map>

namespace {

const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

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

} // namespace

class tst_DemarrApp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void addsTheProgramInItsFolder_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("text");
        QTest::newRow("folder") << "/opt/prog" << "/opt/prog/Tintarel.exe";
        QTest::newRow("folder ending in a separator") << "/opt/prog/" << "/opt/prog//Tintarel.exe";
    }

    void addsTheProgramInItsFolder()
    {
        QFETCH(QString, folder);
        QFETCH(QString, text);
        FakeRegistry registry;
        CapturedMessages messages;
        QVERIFY(DemarrApp(registry, messages).RegDemarrAjoutApp("Tintarel", folder.toStdString(), "Tintarel.exe"));
        const auto &stored = registry.keys[FakeRegistry::keyName(reg::HKEY_LOCAL_MACHINE, run)]["Tintarel"];
        QCOMPARE(stored.type, reg::REG_SZ);
        QCOMPARE(stored.bytes, text.toStdString() + '\0');
    }

    void applicationObjectGivesTitleFolderAndName()
    {
        FakeRegistry registry;
        CapturedMessages messages;
        Application application;
        application.properties = {{"Title", "T"}, {"Path", "/F"}, {"EXEName", "N"}};
        DemarrApp app(registry, messages);
        QCOMPARE(app.RegDemarrAjouter(application), std::optional<bool>(true));
        QCOMPARE(app.CléLectureValeur(ostrevol::HKey::HKEY_LOCAL_MACHINE, run, "T"), std::string("/F/N"));
        QCOMPARE(app.RegDemarrSupprimer(application), std::optional<bool>(true));
        QVERIFY(registry.keys[FakeRegistry::keyName(reg::HKEY_LOCAL_MACHINE, run)].empty());
    }

    void applicationObjectLackingAProperty_data()
    {
        QTest::addColumn<QString>("missing");
        QTest::newRow("Title") << "Title";
        QTest::newRow("Path") << "Path";
        QTest::newRow("EXEName") << "EXEName";
    }

    void applicationObjectLackingAProperty()
    {
        QFETCH(QString, missing);
        FakeRegistry registry;
        CapturedMessages messages;
        Application application;
        application.properties = {{"Title", "T"}, {"Path", "/F"}, {"EXEName", "N"}};
        application.properties.erase(missing.toStdString());
        DemarrApp app(registry, messages);
        QCOMPARE(app.RegDemarrAjouter(application), std::optional<bool>());
        QCOMPARE(registry.setCalls, 0);
        QCOMPARE(registry.keysLeftOpen(), 0);
        QCOMPARE(messages.shown.size(), std::size_t(0));
    }

    void removingWhatIsNotThereShowsMessage4Always_data()
    {
        QTest::addColumn<bool>("MessageErreur");
        QTest::newRow("asked") << true;
        QTest::newRow("not asked") << false;
    }

    void removingWhatIsNotThereShowsMessage4Always()
    {
        QFETCH(bool, MessageErreur);
        FakeRegistry registry;
        CapturedMessages messages;
        registry.keys[FakeRegistry::keyName(reg::HKEY_LOCAL_MACHINE, run)];
        QVERIFY(!DemarrApp(registry, messages).RegDemarrSupprimApp("Tintarel", MessageErreur));
        QCOMPARE(messages.shown.size(), std::size_t(1));
        QVERIFY(messages.shown[0].text.starts_with("Error Setting Registry Key Entry:"));
    }

    void readingWhatIsNotThere_data()
    {
        QTest::addColumn<bool>("omitted");
        QTest::addColumn<int>("messageCount");
        QTest::newRow("MessageErreur omitted") << true << 1;
        QTest::newRow("MessageErreur false") << false << 0;
    }

    void readingWhatIsNotThere()
    {
        QFETCH(bool, omitted);
        QFETCH(int, messageCount);
        FakeRegistry registry;
        CapturedMessages messages;
        registry.keys[FakeRegistry::keyName(reg::HKEY_LOCAL_MACHINE, run)];
        DemarrApp app(registry, messages);
        const std::string text = omitted ? app.CléLectureValeur(ostrevol::HKey::HKEY_LOCAL_MACHINE, run, "Tintarel")
                                         : app.CléLectureValeur(ostrevol::HKey::HKEY_LOCAL_MACHINE, run, "Tintarel", false);
        QCOMPARE(text, std::string());
        QCOMPARE(int(messages.shown.size()), messageCount);
        if (messageCount)
            QVERIFY(messages.shown[0].text.starts_with("Error Retrieving Registry Key Entry:"));
    }

    void numberReadAsDecimalText()
    {
        FakeRegistry registry;
        CapturedMessages messages;
        registry.putText(reg::HKEY_CURRENT_USER, "Control Panel\\Desktop", "Wallpaper", "%USERPROFILE%\\x.bmp",
                         reg::REG_EXPAND_SZ);
        QCOMPARE(DemarrApp(registry, messages)
                     .CléLectureValeur(ostrevol::HKey::HKEY_CURRENT_USER, "Control Panel\\Desktop", "Wallpaper"),
                 std::string("1"));
    }
};

QTEST_APPLESS_MAIN(tst_DemarrApp)
#include "tst_demarrapp.moc"
