#include "Configuration.h"
#include "DateTimeValue.h"
#include "IniSettingsStore.h"

#include <QTemporaryDir>
#include <QtTest>

class tst_Configuration : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString iniPath() const { return m_dir->filePath(QStringLiteral("Tintarel.ini")); }
    QByteArray readIni() const
    {
        QFile file(iniPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

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

    void storedText_data()
    {
        QTest::addColumn<QByteArray>("ini"); // one key
        QTest::addColumn<QString>("expected"); // the value read; empty: the configuration fails on that key
        QTest::newRow("Taille beyond 16 bits") << QByteArray("[Position]\nTaille=40000\n") << "40000";
        QTest::newRow("Top at the 32-bit bound") << QByteArray("[Position]\nTop=-2147483648\n") << "-2147483648";
        QTest::newRow("Top beyond 32 bits") << QByteArray("[Position]\nTop=2147483648\n") << "";
        QTest::newRow("Left below 32 bits") << QByteArray("[Position]\nLeft=-2147483649\n") << "";
        QTest::newRow("Carillons at the 16-bit bound") << QByteArray("[Réglages]\nCarillons=-32768\n") << "-32768";
        QTest::newRow("Carillons beyond 16 bits") << QByteArray("[Réglages]\nCarillons=32768\n") << "";
        QTest::newRow("Carillons out of range is kept") << QByteArray("[Réglages]\nCarillons=7\n") << "7";
        QTest::newRow("not a number") << QByteArray("[Réglages]\nCarillons=abc\n") << "";
        QTest::newRow("empty text is not missing") << QByteArray("[Réglages]\nVisibilité=\n") << "";
        QTest::newRow("spaces around a number") << QByteArray("[Réglages]\nStartPos= 2 \n") << "2";
        QTest::newRow("colour reference") << QByteArray("[Réglages]\nForeColor=-2147483630\n") << "2147483666";
        QTest::newRow("ISO date dropped") << QByteArray("[Plage]\nDebut=2004-09-20 07:30:00\n") << "07:30:00";
        QTest::newRow("French date dropped") << QByteArray("[Plage]\nDebut=20/09/2004 07:30:00\n") << "07:30:00";
        QTest::newRow("short time") << QByteArray("[Plage]\nFin=7:30\n") << "07:30:00";
        QTest::newRow("no time of day") << QByteArray("[Plage]\nDebut=midi\n") << "";
        QTest::newRow("impossible time") << QByteArray("[Plage]\nFin=25:00:00\n") << "";
        QTest::newRow("impossible date") << QByteArray("[Plage]\nFin=2004-02-30 10:00:00\n") << "";
    }

    // Stored text converts as an assignment would, or fails naming its key
    // and writes nothing back.
    void storedText()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, expected);
        QFile file(iniPath());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(ini) == ini.size());
        file.close();
        const QString stored = QString::fromUtf8(ini).chopped(1);
        const QString section = stored.section(QLatin1Char(']'), 0, 0).mid(1);
        const QString key = stored.section(QLatin1Char('\n'), 1).section(QLatin1Char('='), 0, 0);
        const QString text = stored.section(QLatin1Char('='), 1);
        IniSettingsStore store(iniPath());
        SettingsError error;
        auto config = Configuration::create(store, &error);
        QCOMPARE(readIni(), ini);
        if (expected.isEmpty()) {
            QVERIFY(!config);
            QCOMPARE(QStringList({error.section, error.key, error.text}), QStringList({section, key, text}));
            QVERIFY(error.description().contains(key));
            return;
        }
        QVERIFY(config);
        const QMap<QString, QString> values{
            {QStringLiteral("Taille"), QString::number(config->Taille())},
            {QStringLiteral("Top"), QString::number(config->Position()->Top)},
            {QStringLiteral("Carillons"), QString::number(config->Carillons())},
            {QStringLiteral("Debut"), DateTimeValue::formatLongTime(config->DateDeb())},
            {QStringLiteral("Fin"), DateTimeValue::formatLongTime(config->DateFin())},
            {QStringLiteral("ForeColor"), QString::number(config->ForeColor())},
            {QStringLiteral("StartPos"), QString::number(config->StartPos())},
        };
        QCOMPARE(values.value(key), expected);
    }

    // Each assignment writes its key at once, as text that reads back the same.
    void assignmentWritesItsKeyAtOnce()
    {
        IniSettingsStore store(iniPath());
        auto config = Configuration::create(store);
        QVERIFY(config->setCarillons(7) && config->setForeColor(0x80000012) && config->setVisibilité(1));
        QVERIFY(config->setDateDeb(DateTimeValue::fromTime(QTime(7, 5, 9))));
        auto shared = config->Position();
        shared->Top = -300;
        shared->Left = 45000; // right of 2184 pixels: a wide desktop
        QCOMPARE(int(config->Position()->Top), -300); // the same object
        QVERIFY(!readIni().contains("Top"));             // written only by SavePos
        QVERIFY(config->SavePos());
        QCOMPARE(readIni(), QByteArray("[R%E9glages]\nCarillons=7\nForeColor=-2147483630\nVisibilit%E9=1\n\n"
                                       "[Plage]\nDebut=07:05:09\n\n[Position]\nTop=-300\nLeft=45000\n"));
        auto again = Configuration::create(store);
        QCOMPARE(QList<qint64>({again->Carillons(), again->ForeColor(), again->Visibilité(), again->Position()->Top,
                                again->Position()->Left}),
                 QList<qint64>({7, 0x80000012, 1, -300, 45000}));
        QCOMPARE(DateTimeValue::formatLongTime(again->DateDeb()), QStringLiteral("07:05:09"));
    }
};

QTEST_APPLESS_MAIN(tst_Configuration)
#include "tst_configuration.moc"
