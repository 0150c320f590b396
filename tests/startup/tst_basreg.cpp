#include "DemarrApp.h"
#include "FakeRegistry.h"
#include "basReg.h"

#include <QtTest>

#include <map>

Q_DECLARE_METATYPE(FakeRegistry::Call)

namespace {

const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

class Application : public ostrevol::IApplicationObject
{
public:
    std::map<std::string, std::string> properties{{"Title", "T"}, {"Path", "/F"}, {"EXEName", "N"}};
    const char *property(const char *name) const override
    {
        const auto found = properties.find(name);
        return found == properties.end() ? nullptr : found->second.c_str();
    }
};

} // namespace

// The library's registry routines and its class over an in-memory registry
// that fails on demand: which message each failure shows, and what is kept.
class tst_basReg : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void failures_data()
    {
        QTest::addColumn<QString>("routine");
        QTest::addColumn<FakeRegistry::Call>("failingCall");
        QTest::addColumn<int>("code"); // returned by the failing call, or FakeRegistry::throws
        QTest::addColumn<bool>("closeThrowsToo");
        QTest::addColumn<bool>("toldUnasked"); // the message shows with MessageErreur false as well

        using C = FakeRegistry::Call;
        const int throws = int(FakeRegistry::throws);
        QTest::newRow("1 key not opened for writing") << "write" << C::Create << 5 << false << false;
        QTest::newRow("1 value not written") << "write" << C::Set << 112 << true << false;
        QTest::newRow("2 key not closed after writing") << "write" << C::Close << 6 << false << true;
        QTest::newRow("3 key not opened for deleting") << "delete" << C::Open << 5 << false << false;
        QTest::newRow("4 value not deleted") << "delete" << C::Delete << 2 << true << true;
        QTest::newRow("5 key not closed after deleting") << "delete" << C::Close << 6 << false << true;
        QTest::newRow("6 key not opened for reading") << "read" << C::Open << 2 << false << false;
        QTest::newRow("7 value not read") << "read" << C::Query << 13 << true << false;
        QTest::newRow("8 while writing") << "write" << C::Set << throws << true << true;
        QTest::newRow("8 while deleting") << "delete" << C::Delete << throws << false << true;
        QTest::newRow("8 while reading") << "read" << C::Query << throws << true << true;
        QTest::newRow("8 number that does not convert") << "write number" << C::Open << 0 << true << true;
    }

    // Every failure returns false, shows its one message telling the code or
    // what was thrown (when asked, or always), leaves the value read untouched
    // and no key open, even when closing the key throws as well.
    void failures()
    {
        QFETCH(QString, routine);
        QFETCH(FakeRegistry::Call, failingCall);
        QFETCH(int, code);
        QFETCH(bool, closeThrowsToo);
        QFETCH(bool, toldUnasked);
        for (const bool MessageErreur : {true, false}) {
            FakeRegistry registry;
            CapturedMessages messages;
            registry.keys[FakeRegistry::keyName(reg::HKEY_LOCAL_MACHINE, run)]["Tintarel"] = {reg::REG_SZ, {"/t", 3}};
            if (code)
                registry.failures[failingCall] = code;
            if (closeThrowsToo)
                registry.failures[FakeRegistry::Call::Close] = FakeRegistry::throws;
            basReg routines(registry, messages);
            RegValue value = std::string("untouched");
            bool result = true;
            if (routine == QLatin1String("write"))
                result = routines.RegDemarrEcrire(1, "Tintarel", "/opt/tintarel/Tintarel", MessageErreur);
            else if (routine == QLatin1String("write number"))
                result = routines.RegDemarrEcrire(4, "Compte", "douze", MessageErreur);
            else if (routine == QLatin1String("delete"))
                result = routines.RegDemarrEffacer("Tintarel", MessageErreur);
            else
                result = routines.RegLectureValeur(reg::HKEY_LOCAL_MACHINE, run, "Tintarel", 1, value, MessageErreur);
            QVERIFY(!result);
            QCOMPARE(registry.keysLeftOpen(), 0);
            QCOMPARE(std::get<std::string>(value), std::string("untouched"));
            const bool shown = MessageErreur || toldUnasked;
            QCOMPARE(messages.shown.size(), std::size_t(shown ? 1 : 0));
            const QString text = shown ? QString::fromStdString(messages.shown[0].text) : QString();
            const QString told = code < 0 ? QStringLiteral("entrée/sortie") : QString::number(code);
            QVERIFY2(!shown || code == 0 || text.contains(told), qPrintable(text));
        }
    }

    void storedValues_data()
    {
        QTest::addColumn<uint>("type");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("requestedType");
        QTest::addColumn<QString>("read"); // the text, or "#n" for a number
        QTest::newRow("600 characters: read again in full")
            << reg::REG_SZ << QByteArray(600, 'x') + '\0' << 1 << QString(600, 'x');
        QTest::newRow("REG_EXPAND_SZ gives 1") << reg::REG_EXPAND_SZ << QByteArray("%HOME%\0", 7) << 1 << "#1";
        QTest::newRow("REG_DWORD asked as text") << reg::REG_DWORD << QByteArray("\x2A\x00\x00\x00", 4) << 1 << "#42";
        QTest::newRow("REG_DWORD asked as number") << reg::REG_DWORD << QByteArray("\xFF\xFF\xFF\xFF", 4) << 4 << "#-1";
        QTest::newRow("any other requested type") << reg::REG_SZ << QByteArray("abc\0", 4) << 7 << "#1";
    }

    void storedValues()
    {
        QFETCH(uint, type);
        QFETCH(QByteArray, bytes);
        QFETCH(int, requestedType);
        QFETCH(QString, read);
        FakeRegistry registry;
        CapturedMessages messages;
        registry.keys[FakeRegistry::keyName(reg::HKEY_CURRENT_USER, run)]["V"] = {type, bytes.toStdString()};
        RegValue value;
        QVERIFY(basReg(registry, messages).RegLectureValeur(reg::HKEY_CURRENT_USER, run, "V", requestedType, value, true));
        QCOMPARE(read.startsWith('#') ? QString::number(std::get<std::int32_t>(value))
                                      : QString::fromStdString(std::get<std::string>(value)),
                 read.startsWith('#') ? read.mid(1) : read);
        QVERIFY(messages.shown.empty());
    }

    // The class: folder and name joined as given (a text of under 255 bytes
    // read back whole), the application object read by name, and nothing
    // written when one of its properties lacks; a number written as four
    // bytes, lowest first.
    void demarrApp()
    {
        FakeRegistry registry;
        CapturedMessages messages;
        DemarrApp app(registry, messages);
        QVERIFY(app.RegDemarrAjoutApp("Tintarel", "/opt/prog/", "Tintarel"));
        QCOMPARE(app.CléLectureValeur(ostrevol::HKey::HKEY_LOCAL_MACHINE, run, "Tintarel"), std::string("/opt/prog//Tintarel"));
        Application application;
        QCOMPARE(app.RegDemarrAjouter(application), std::optional<bool>(true));
        QCOMPARE(app.CléLectureValeur(ostrevol::HKey::HKEY_LOCAL_MACHINE, run, "T"), std::string("/F/N"));
        QCOMPARE(app.RegDemarrSupprimer(application), std::optional<bool>(true));
        QVERIFY(!app.RegDemarrSupprimApp("T", false)); // message 4, though not asked
        QCOMPARE(app.CléLectureValeur(ostrevol::HKey::HKEY_LOCAL_MACHINE, run, "T", false), std::string());
        QCOMPARE(messages.shown.size(), std::size_t(1));
        for (const char *missing : {"Title", "Path", "EXEName"}) {
            Application lacking;
            lacking.properties.erase(missing);
            QCOMPARE(app.RegDemarrAjouter(lacking), std::optional<bool>());
        }
        QVERIFY(basReg(registry, messages).RegDemarrEcrire(4, "Compte", "258", true));
        const auto &stored = registry.keys[FakeRegistry::keyName(reg::HKEY_LOCAL_MACHINE, run)];
        QCOMPARE(stored.size(), std::size_t(2));
        QCOMPARE(stored.at("Compte").type, reg::REG_DWORD);
        QCOMPARE(stored.at("Compte").bytes, std::string("\x02\x01\x00\x00", 4));
        QCOMPARE(registry.keysLeftOpen(), 0);
    }
};

QTEST_APPLESS_MAIN(tst_basReg)
#include "tst_basreg.moc"
