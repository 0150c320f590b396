#include "Configuration.h"
#include "DateTimeValue.h"
#include "IniSettingsStore.h"

#include <QFile>
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
        const QList<qint64> values{config->Position()->Top, config->Position()->Left, config->Carillons(),
                                   config->Taille(), config->EnumHeures(), config->Calendrier(), config->Veille(),
                                   config->Visibilité(), config->Activer(), config->Plage(), config->StartPos(),
                                   config->ForeColor(), config->BackColor()};
        QCOMPARE(values, (QList<qint64>{100, 100, 3, 0, 1, 0, 1, 2, 1, 0, 0, 0x80000012, 0x8000000F}));
        QCOMPARE(config->DateDeb(), 10.0 / 24.0);
        QCOMPARE(DateTimeValue::formatLongTime(config->DateFin()), QStringLiteral("20:00:00"));
        QVERIFY(!QFile::exists(iniPath()));
    }

    void storedValues_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("expected");
        QTest::newRow("Taille beyond 16 bits") << QByteArray("[Position]\nTaille=40000\n") << "Taille" << "40000";
        QTest::newRow("Top at the 32-bit bound") << QByteArray("[Position]\nTop=-2147483648\n") << "Top" << "-2147483648";
        QTest::newRow("Carillons at the 16-bit bound") << QByteArray("[R%E9glages]\nCarillons=-32768\n") << "Carillons" << "-32768";
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
        QTest::newRow("a list is no number") << QByteArray("[R%E9glages]\nActiver=1, 2\n") << "Réglages" << "Activer" << "1, 2";
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

    // Each assignment writes its key at once, as text that reads back the same.
    void assignmentWritesItsKeyAtOnce()
    {
        IniSettingsStore store(iniPath());
        auto config = Configuration::create(store);
        QVERIFY(config->setCarillons(7));
        QVERIFY(config->setForeColor(0x80000012));
        QVERIFY(config->setDateDeb(DateTimeValue::fromTime(QTime(7, 5, 9))));
        QVERIFY(config->setVisibilité(1));
        auto shared = config->Position();
        shared->Top = -300;
        shared->Left = 45000; // right of 2184 pixels: a wide desktop
        QCOMPARE(int(config->Position()->Top), -300); // the same object
        QVERIFY(!readIni().contains("Top"));             // written only by SavePos
        QVERIFY(config->SavePos());
        QCOMPARE(readIni(), QByteArray("[R%E9glages]\nCarillons=7\nForeColor=-2147483630\nVisibilit%E9=1\n\n"
                                       "[Plage]\nDebut=07:05:09\n\n[Position]\nTop=-300\nLeft=45000\n"));

        auto again = Configuration::create(store);
        QCOMPARE(again->Carillons(), 7);
        QCOMPARE(again->ForeColor(), 0x80000012u);
        QCOMPARE(again->Visibilité(), 1);
        QCOMPARE(DateTimeValue::formatLongTime(again->DateDeb()), QStringLiteral("07:05:09"));
        QCOMPARE(int(again->Position()->Top), -300);
        QCOMPARE(int(again->Position()->Left), 45000);
    }
};

QTEST_APPLESS_MAIN(tst_Configuration)
#include "tst_configuration.moc"
