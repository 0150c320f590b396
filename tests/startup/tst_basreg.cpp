#include "FakeRegistry.h"
#include "basReg.h"

#include <QtTest>

Q_DECLARE_METATYPE(FakeRegistry::Call)

namespace {

const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const QString runText = QString::fromStdString(run);

QString message1(const QString &key, long code)
{
    return QStringLiteral("Error Creating Registry Key Entry:\nKey=%1\nDLL Returned=%2"
                          "Impossible d'ajouter l'application \"Tintarel\" dans la base de registre. "
                          "Vous pouvez ajouter manuellement un raccourci pour cette application dans le dossier "
                          "du menu \"Démarrer/Programmes/Démarrage\" pour obtenir le lancement automatique dans "
                          "Windows.")
        .arg(key)
        .arg(code);
}

} // namespace

class tst_basReg : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void messages_data()
    {
        QTest::addColumn<QString>("routine");
        QTest::addColumn<FakeRegistry::Call>("failingCall");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("MessageErreur");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("text");

        using C = FakeRegistry::Call;
        const QString none;
        QTest::newRow("1 key not opened for writing") << "write" << C::Create << 5 << true << "Ostrevol"
                                                      << message1(runText, 5);
        QTest::newRow("1 not asked") << "write" << C::Create << 5 << false << none << none;
        QTest::newRow("1 value not written") << "write" << C::Set << 1013 << true << "Ostrevol"
                                             << message1(QStringLiteral("Tintarel"), 1013);
        QTest::newRow("1 value not written, not asked") << "write" << C::Set << 1013 << false << none << none;
        const QString message2 = QStringLiteral("Erreur pendant la fermeture de la clé de registre :\nKey=Tintarel\n"
                                                "DLL Returned=6\nIl peut être souhaitable de fermer et relancer Windows.");
        QTest::newRow("2 key not closed after writing") << "write" << C::Close << 6 << false << "Ostrevol" << message2;
        const QString message3 =
            QStringLiteral("Error Opening Registry Key Entry:\nKey/Path=%1\nDLL Returned=5Impossible de supprimer "
                           "l'entrée Tintarel dans la clé \"HKEY_LOCAL_MACHINE\\%1\".de la base de registre.")
                .arg(runText);
        QTest::newRow("3 key not opened for deleting") << "delete" << C::Open << 5 << true << "ODBC Registry" << message3;
        QTest::newRow("3 not asked") << "delete" << C::Open << 5 << false << none << none;
        const QString message4 =
            QStringLiteral("Error Setting Registry Key Entry:\nKey=%1\nDLL Returned=2\nImpossible de supprimer "
                           "l'entrée Tintarel dans la clé \"HKEY_LOCAL_MACHINE\\%1\"de la base de registre.")
                .arg(runText);
        QTest::newRow("4 value not deleted, even when not asked")
            << "delete" << C::Delete << 2 << false << "ODBC Registry" << message4;
        const QString message5 = QStringLiteral("Erreur pendant la fermeture de l'accès à la clé de registre. \nKey=%1\n"
                                                "DLL Returned=6\nIl peut être souhaitable de fermer et relancer Windows.")
                                     .arg(runText);
        QTest::newRow("5 key not closed after deleting") << "delete" << C::Close << 6 << false << "Ostrevol" << message5;
        QTest::newRow("6 key not opened for reading")
            << "read" << C::Open << 2 << true << "ODBC Registry"
            << QStringLiteral("Error Opening Registry Key Entry:\nKey/Path=%1\nDLL Returned=2").arg(runText);
        QTest::newRow("6 not asked") << "read" << C::Open << 2 << false << none << none;
        QTest::newRow("7 value not read") << "read" << C::Query << 234 << true << "ODBC Registry"
                                          << "Error Retrieving Registry Key Entry:\nKey=Tintarel\nDLL Returned=234";
        QTest::newRow("7 not asked") << "read" << C::Query << 234 << false << none << none;
        const QString failure = QStringLiteral("Erreur d'entrée/sortie sur le périphérique");
        QTest::newRow("8 while writing") << "write" << C::Set << int(FakeRegistry::throws) << false << "Ostrevol"
                                         << failure;
        QTest::newRow("8 while deleting") << "delete" << C::Delete << int(FakeRegistry::throws) << false << "Ostrevol"
                                          << failure;
        QTest::newRow("8 while reading") << "read" << C::Query << int(FakeRegistry::throws) << false << "YourAppName"
                                         << failure;
    }

    // Every failure returns false, shows its one message (or none), and
    // leaves no key open.
    void messages()
    {
        QFETCH(QString, routine);
        QFETCH(FakeRegistry::Call, failingCall);
        QFETCH(int, code);
        QFETCH(bool, MessageErreur);
        QFETCH(QString, caption);
        QFETCH(QString, text);

        FakeRegistry registry;
        CapturedMessages messages;
        registry.putText(reg::HKEY_LOCAL_MACHINE, run, "Tintarel", "/opt/tintarel/Tintarel");
        registry.failures[failingCall] = code;
        basReg routines(registry, messages);
        RegValue value = std::string("untouched");

        bool result = true;
        if (routine == QLatin1String("write"))
            result = routines.RegDemarrEcrire(1, "Tintarel", "/opt/tintarel/Tintarel", MessageErreur);
        else if (routine == QLatin1String("delete"))
            result = routines.RegDemarrEffacer("Tintarel", MessageErreur);
        else
            result = routines.RegLectureValeur(reg::HKEY_LOCAL_MACHINE, run, "Tintarel", 1, value, MessageErreur);

        QVERIFY(!result);
        QCOMPARE(registry.keysLeftOpen(), 0);
        QCOMPARE(std::get<std::string>(value), std::string("untouched"));
        if (caption.isEmpty()) {
            QCOMPARE(messages.shown.size(), std::size_t(0));
            return;
        }
        QCOMPARE(messages.shown.size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(messages.shown[0].caption), caption);
        QCOMPARE(QString::fromStdString(messages.shown[0].text), text);
    }

    void deletingAMissingValueGivesCode2()
    {
        FakeRegistry registry;
        CapturedMessages messages;
        registry.keys[FakeRegistry::keyName(reg::HKEY_LOCAL_MACHINE, run)];
        QVERIFY(!basReg(registry, messages).RegDemarrEffacer("Tintarel", false));
        QCOMPARE(messages.shown.size(), std::size_t(1));
        QVERIFY(QString::fromStdString(messages.shown[0].text).contains(QLatin1String("\nDLL Returned=2\n")));
    }

    void numberThatDoesNotConvert_data()
    {
        QTest::addColumn<QString>("data");
        QTest::addColumn<QString>("description");
        QTest::newRow("not a number") << "douze" << "Incompatibilité de type";
        QTest::newRow("beyond 32 bits") << "4294967296" << "Dépassement de capacité";
    }

    void numberThatDoesNotConvert()
    {
        QFETCH(QString, data);
        QFETCH(QString, description);
        FakeRegistry registry;
        CapturedMessages messages;
        QVERIFY(!basReg(registry, messages).RegDemarrEcrire(4, "Compte", data.toStdString(), false));
        QCOMPARE(registry.keysLeftOpen(), 0);
        QCOMPARE(registry.setCalls, 0);
        QCOMPARE(messages.shown.size(), std::size_t(1));
        QCOMPARE(QString::fromStdString(messages.shown[0].text), description);
    }

    void storedSizes_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("readable");
        QTest::newRow("empty") << 0 << true;
        QTest::newRow("20 characters") << 20 << true;
        QTest::newRow("254 characters") << 254 << true;
        QTest::newRow("255 characters") << 255 << false;
    }

    // A text is stored with its NUL; reading holds 255 bytes with the NUL.
    void storedSizes()
    {
        QFETCH(int, length);
        QFETCH(bool, readable);
        FakeRegistry registry;
        CapturedMessages messages;
        basReg routines(registry, messages);
        const std::string text(std::size_t(length), 'x');

        QVERIFY(routines.RegDemarrEcrire(1, "Tintarel", text, true));
        const auto &stored = registry.keys[FakeRegistry::keyName(reg::HKEY_LOCAL_MACHINE, run)]["Tintarel"];
        QCOMPARE(stored.type, reg::REG_SZ);
        QCOMPARE(stored.bytes, text + '\0');

        RegValue value;
        QCOMPARE(routines.RegLectureValeur(reg::HKEY_LOCAL_MACHINE, run, "Tintarel", 1, value, true), readable);
        if (readable) {
            QCOMPARE(std::get<std::string>(value), text);
            QCOMPARE(messages.shown.size(), std::size_t(0));
        } else {
            QVERIFY(std::holds_alternative<std::monostate>(value));
            QCOMPARE(QString::fromStdString(messages.shown.at(0).text),
                     QStringLiteral("Error Retrieving Registry Key Entry:\nKey=Tintarel\nDLL Returned=234"));
        }
    }

    void storedTypes_data()
    {
        QTest::addColumn<uint>("type");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("requestedType");
        QTest::addColumn<int>("number");
        QTest::newRow("REG_EXPAND_SZ gives 1") << reg::REG_EXPAND_SZ << QByteArray("%HOME%\0", 7) << 1 << 1;
        QTest::newRow("REG_BINARY gives 1") << reg::REG_BINARY << QByteArray("\x01\x02", 2) << 1 << 1;
        QTest::newRow("REG_DWORD asked as text") << reg::REG_DWORD << QByteArray("\x2A\x00\x00\x00", 4) << 1 << 42;
        QTest::newRow("REG_DWORD asked as number") << reg::REG_DWORD << QByteArray("\xFF\xFF\xFF\xFF", 4) << 4 << -1;
        QTest::newRow("any other requested type") << reg::REG_SZ << QByteArray("abc\0", 4) << 7 << 1;
    }

    void storedTypes()
    {
        QFETCH(uint, type);
        QFETCH(QByteArray, bytes);
        QFETCH(int, requestedType);
        QFETCH(int, number);
        FakeRegistry registry;
        CapturedMessages messages;
        registry.keys[FakeRegistry::keyName(reg::HKEY_CURRENT_USER, "Control Panel\\Desktop")]["Valeur"] = {
            type, bytes.toStdString()};
        RegValue value;
        QVERIFY(basReg(registry, messages)
                    .RegLectureValeur(reg::HKEY_CURRENT_USER, "Control Panel\\Desktop", "Valeur", requestedType,
                                      value, true));
        QCOMPARE(std::get<std::int32_t>(value), number);
    }

    void numberIsWrittenAsFourBytes()
    {
        FakeRegistry registry;
        CapturedMessages messages;
        QVERIFY(basReg(registry, messages).RegDemarrEcrire(4, "Compte", "258", true));
        const auto &stored = registry.keys[FakeRegistry::keyName(reg::HKEY_LOCAL_MACHINE, run)]["Compte"];
        QCOMPARE(stored.type, reg::REG_DWORD);
        QCOMPARE(stored.bytes, std::string("\x02\x01\x00\x00", 4));
    }
};

QTEST_APPLESS_MAIN(tst_basReg)
#include "tst_basreg.moc"
