#include "Configuration.h"
#include "DateTimeValue.h"
#include "IniSettingsStore.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

class tst_Configuration : public QObject
{
    Q_OBJECT

private:
    QString iniPath() const { return m_dir->path() + QStringLiteral("/Tintarel/Tintarel.ini"); }
    void writeIni(const QByteArray &text)
    {
        QDir().mkpath(m_dir->path() + QStringLiteral("/Tintarel"));
        QFile file(iniPath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }
    QByteArray readIni() const
    {
        QFile file(iniPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    std::unique_ptr<QTemporaryDir> m_dir;

private Q_SLOTS:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    void emptyStoreGivesDefaultsAndWritesNothing()
    {
        IniSettingsStore store(iniPath());
        auto config = Configuration::create(store);
        QVERIFY(config);
        QCOMPARE(config->Position()->Top, 100);
        QCOMPARE(config->Position()->Left, 100);
        QCOMPARE(config->Carillons(), 3);
        QCOMPARE(config->Taille(), 0);
        QCOMPARE(config->EnumHeures(), 1);
        QCOMPARE(config->Calendrier(), 0);
        QCOMPARE(config->Veille(), 1);
        QCOMPARE(config->Visibilité(), 2);
        QCOMPARE(config->Activer(), 1);
        QCOMPARE(config->Plage(), 0);
        QCOMPARE(DateTimeValue::formatLongTime(config->DateDeb()), QStringLiteral("10:00:00"));
        QCOMPARE(DateTimeValue::formatLongTime(config->DateFin()), QStringLiteral("20:00:00"));
        QCOMPARE(config->DateDeb(), 10.0 / 24.0);
        QCOMPARE(config->ForeColor(), 0x80000012u);
        QCOMPARE(config->BackColor(), 0x8000000Fu);
        QCOMPARE(config->StartPos(), 0);
        QVERIFY(!QFile::exists(iniPath()));
    }

    void storedValues_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("expected");
        QTest::newRow("Taille beyond 16 bits") << QByteArray("[Position]\nTaille=40000\n") << "Taille" << "40000";
        QTest::newRow("Top at the 32-bit bound") << QByteArray("[Position]\nTop=-2147483648\n") << "Top" << "-2147483648";
        QTest::newRow("Carillons out of range is kept") << QByteArray("[R%E9glages]\nCarillons=7\n") << "Carillons" << "7";
        QTest::newRow("ISO date dropped") << QByteArray("[Plage]\nDebut=2004-09-20 07:30:00\n") << "DateDeb" << "07:30:00";
        QTest::newRow("French date dropped") << QByteArray("[Plage]\nDebut=20/09/2004 07:30:00\n") << "DateDeb" << "07:30:00";
        QTest::newRow("short time") << QByteArray("[Plage]\nFin=7:30\n") << "DateFin" << "07:30:00";
        QTest::newRow("colour reference") << QByteArray("[R%E9glages]\nForeColor=-2147483630\n") << "ForeColor" << "2147483666";
        QTest::newRow("RGB colour") << QByteArray("[R%E9glages]\nBackColor=255\n") << "BackColor" << "255";
        QTest::newRow("spaces around a number") << QByteArray("[R%E9glages]\nStartPos= 2 \n") << "StartPos" << "2";
    }

    void storedValues()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, setting);
        QFETCH(QString, expected);
        writeIni(ini);
        IniSettingsStore store(iniPath());
        auto config = Configuration::create(store);
        QVERIFY(config);
        const QMap<QString, QString> values{
            {QStringLiteral("Taille"), QString::number(config->Taille())},
            {QStringLiteral("Top"), QString::number(config->Position()->Top)},
            {QStringLiteral("Carillons"), QString::number(config->Carillons())},
            {QStringLiteral("DateDeb"), DateTimeValue::formatLongTime(config->DateDeb())},
            {QStringLiteral("DateFin"), DateTimeValue::formatLongTime(config->DateFin())},
            {QStringLiteral("ForeColor"), QString::number(config->ForeColor())},
            {QStringLiteral("BackColor"), QString::number(config->BackColor())},
            {QStringLiteral("StartPos"), QString::number(config->StartPos())},
        };
        QCOMPARE(values.value(setting), expected);
        // A time of day never keeps a date part.
        QVERIFY(config->DateDeb() < 1.0 && config->DateFin() < 1.0);
    }

    void conversionFailures_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::newRow("not a number") << QByteArray("[R%E9glages]\nCarillons=abc\n") << "Réglages" << "Carillons" << "abc";
        QTest::newRow("empty text is not missing") << QByteArray("[R%E9glages]\nVisibilit%E9=\n") << "Réglages" << "Visibilité" << "";
        QTest::newRow("Top beyond 32 bits") << QByteArray("[Position]\nTop=2147483648\n") << "Position" << "Top" << "2147483648";
        QTest::newRow("Left below 32 bits") << QByteArray("[Position]\nLeft=-2147483649\n") << "Position" << "Left" << "-2147483649";
        QTest::newRow("Carillons beyond 16 bits") << QByteArray("[R%E9glages]\nCarillons=32768\n") << "Réglages" << "Carillons" << "32768";
        QTest::newRow("colour beyond 32 bits") << QByteArray("[R%E9glages]\nForeColor=4294967295\n") << "Réglages" << "ForeColor" << "4294967295";
        QTest::newRow("no time of day") << QByteArray("[Plage]\nDebut=midi\n") << "Plage" << "Debut" << "midi";
        QTest::newRow("impossible time") << QByteArray("[Plage]\nFin=25:00:00\n") << "Plage" << "Fin" << "25:00:00";
        QTest::newRow("impossible date") << QByteArray("[Plage]\nFin=2004-02-30 10:00:00\n") << "Plage" << "Fin" << "2004-02-30 10:00:00";
        QTest::newRow("a list is no number") << QByteArray("[R%E9glages]\nActiver=1, 2\n") << "Réglages" << "Activer" << "1,2";
    }

    void conversionFailures()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, text);
        writeIni(ini);
        IniSettingsStore store(iniPath());
        SettingsError error;
        QVERIFY(!Configuration::create(store, &error));
        QCOMPARE(error.section, section);
        QCOMPARE(error.key, key);
        QCOMPARE(error.text, text);
        QVERIFY(error.description().contains(key));
        QCOMPARE(readIni(), ini); // nothing written back
    }

    void assignmentWritesItsKeyAtOnce()
    {
        IniSettingsStore store(iniPath());
        auto config = Configuration::create(store);
        QVERIFY(config->setCarillons(7));
        QVERIFY(config->setForeColor(0x80000012));
        QVERIFY(config->setDateDeb(DateTimeValue::fromTime(QTime(7, 5, 9))));
        QVERIFY(config->setVisibilité(1));
        QSettings raw(iniPath(), QSettings::IniFormat);
        QCOMPARE(raw.value(QStringLiteral("Réglages/Carillons")).toString(), QStringLiteral("7"));
        QCOMPARE(raw.value(QStringLiteral("Réglages/ForeColor")).toString(), QStringLiteral("-2147483630"));
        QCOMPARE(raw.value(QStringLiteral("Plage/Debut")).toString(), QStringLiteral("07:05:09"));
        QVERIFY(readIni().contains("[R%E9glages]"));

        auto again = Configuration::create(store);
        QCOMPARE(again->Carillons(), 7);
        QCOMPARE(again->ForeColor(), 0x80000012u);
        QCOMPARE(again->Visibilité(), 1);
        QCOMPARE(DateTimeValue::formatLongTime(again->DateDeb()), QStringLiteral("07:05:09"));
    }

    void positionReachesTheStoreOnlyThroughSavePos()
    {
        IniSettingsStore store(iniPath());
        auto config = Configuration::create(store);
        auto shared = config->Position();
        shared->Top = -300;
        shared->Left = 45000; // right of 2184 pixels: a wide desktop
        QCOMPARE(config->Position()->Top, -300); // the same object
        QVERIFY(!QFile::exists(iniPath()));
        QVERIFY(config->SavePos());
        auto again = Configuration::create(store);
        QCOMPARE(again->Position()->Top, -300);
        QCOMPARE(again->Position()->Left, 45000);
    }

    void writeKeepsKeysOfOtherWriters()
    {
        IniSettingsStore store(iniPath());
        auto config = Configuration::create(store);
        // Another program writes a key after our object was created.
        QVERIFY(IniSettingsStore(iniPath()).write(QStringLiteral("Réglages"), QStringLiteral("Activer"), QStringLiteral("0")));
        QVERIFY(config->setCarillons(1));
        auto again = Configuration::create(store);
        QCOMPARE(again->Activer(), 0);
        QCOMPARE(again->Carillons(), 1);
    }

    void unwritableStoreReportsFailure()
    {
        // A directory where the file should be: no write can succeed, and
        // the held value has changed all the same.
        QDir().mkpath(iniPath());
        IniSettingsStore store(iniPath());
        auto config = Configuration::create(store);
        QVERIFY(config);
        QVERIFY(!config->setActiver(0));
        QCOMPARE(config->Activer(), 0);
        QVERIFY(QFileInfo(iniPath()).isDir());
    }
};

QTEST_APPLESS_MAIN(tst_Configuration)
#include "tst_configuration.moc"
