#include "IniSettingsStore.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// The settings file as people and programs meet it: written by hand in any
// editor, and shared by two writing programs. (Writers killed at random
// moments are the fault tests' part.)
class tst_SettingsFile : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_file;

    static QByteArray contents(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static void put(const QString &path, const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
    }

private Q_SLOTS:
    void init()
    {
        const QByteArray tag = QTest::currentDataTag() ? QTest::currentDataTag() : QTest::currentTestFunction();
        m_file = m_dir.filePath(QString::fromUtf8(tag) + QStringLiteral("/Tintarel.ini"));
    }

    void handWrittenFiles_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QStringList>("reads"); // "Section/Key=text", or "Section/Key" for none
        QTest::addColumn<QString>("write");     // "Section/Key=text"
        QTest::addColumn<QByteArray>("after");  // empty: the write is refused and the file kept

        QTest::newRow("byte-order mark, comments, CRLF")
            << QByteArray("\xEF\xBB\xBF[R\xC3\xA9glages]\r\n# r\xC3\xA9glages de l'horloge\r\n; \xC3\xA0 la main\r\n"
                          "Carillons=2\r\n\r\n[Position]\r\nTop = 1500 \r\n# fin\r\n")
            << QStringList{"Réglages/Carillons=2", "Position/Top=1500", "Position/Left"} << "Position/Left=300"
            << QByteArray("\xEF\xBB\xBF[R\xC3\xA9glages]\r\n# r\xC3\xA9glages de l'horloge\r\n; \xC3\xA0 la main\r\n"
                          "Carillons=2\r\n\r\n[Position]\r\nTop = 1500 \r\nLeft=300\r\n# fin\r\n");
        QTest::newRow("names in another case, Latin-1 names")
            << QByteArray("[r\xC3\xA9GLAGES]\ncarillons=0\nVisibilit\xE9=1\n")
            << QStringList{"Réglages/Carillons=0", "Réglages/Visibilité=1"} << "Réglages/Visibilité=3"
            << QByteArray("[r\xC3\xA9GLAGES]\ncarillons=0\nVisibilit\xE9=3\n");
        QTest::newRow("other tools' sections, a subsection")
            << QByteArray("[Other Tool]\nlist=a,b,c\npath = C:\\x ; y\nTop=9\n\n[Position]\nTop=1\n[Position/A]\nx=1\n")
            << QStringList{"Position/Top=1", "Other Tool/list=a,b,c", "Position/x"} << "Position/Top=2"
            << QByteArray("[Other Tool]\nlist=a,b,c\npath = C:\\x ; y\nTop=9\n\n[Position]\nTop=2\n"
                          "[Position/A]\nx=1\n");
        QTest::newRow("first match wins, new key in the first section")
            << QByteArray("[Position]\nTop=1\n[POSITION]\nTop=2\nLeft=5\n")
            << QStringList{"Position/Top=1", "Position/Left=5"} << "Position/Taille=1"
            << QByteArray("[Position]\nTop=1\nTaille=1\n[POSITION]\nTop=2\nLeft=5\n");
        QTest::newRow("new section after a last line without its end")
            << QByteArray("[Position]\nTop=1") << QStringList{"Position/Top=1"} << "Plage/Check=1"
            << QByteArray("[Position]\nTop=1\n\n[Plage]\nCheck=1\n");
        QTest::newRow("quoted text") << QByteArray("[Plage]\nDebut=\"07:30:00\"\n") << QStringList{"Plage/Debut=07:30:00"}
                                     << "Plage/Fin= a \"b\"" << QByteArray("[Plage]\nDebut=\"07:30:00\"\nFin=\" a \\\"b\\\"\"\n");
        QTest::newRow("through a symbolic link") << QByteArray("[Position]\nTop=1\n") << QStringList{"Position/Top=1"}
                                                 << "Position/Top=7" << QByteArray("[Position]\nTop=7\n");
        QTest::newRow("NUL bytes: no text") << QByteArray("[Position]\nTop=1\n\0\n", 19)
                                            << QStringList{"Position/Top=1"} << "Position/Top=2" << QByteArray();
    }

    // What is read, and the file byte for byte after one write.
    void handWrittenFiles()
    {
        QFETCH(QByteArray, before);
        QFETCH(QStringList, reads);
        QFETCH(QString, write);
        QFETCH(QByteArray, after);
        const bool link = QByteArray(QTest::currentDataTag()).contains("link");
        const QString file = link ? m_dir.filePath(QStringLiteral("elsewhere/settings.ini")) : m_file;
        put(file, before);
        QDir().mkpath(QFileInfo(m_file).absolutePath());
        QVERIFY(!link || QFile::link(file, m_file));
        QStringList told;
        IniSettingsStore store(m_file, [&](const QString &path, const QString &why) { told << path + ": " + why; });
        const auto name = [](const QString &entry, int part) { return entry.section('=', 0, 0).section('/', part, part); };
        for (const QString &read : reads)
            QCOMPARE(store.read(name(read, 0), name(read, 1)),
                     read.contains('=') ? std::optional<QString>(read.section('=', 1)) : std::nullopt);
        const QString text = write.section('=', 1);
        QCOMPARE(store.write(name(write, 0), name(write, 1), text), !after.isEmpty());
        QCOMPARE(contents(file), after.isEmpty() ? before : after);
        QCOMPARE(told.filter(m_file).size(), after.isEmpty() ? 1 : 0); // once, naming the file
        if (after.isEmpty())
            return;
        QCOMPARE(store.read(name(write, 0), name(write, 1)), text);
        QCOMPARE(QFileInfo(m_file).isSymLink(), link);
        QCOMPARE(QDir(QFileInfo(file).absolutePath()).entryList({QStringLiteral("*.write-*")}, QDir::Files), QStringList());
    }

    void concurrentWritersLoseNoKey()
    {
        const int count = 150;
        QProcess writers[2];
        for (QProcess &writer : writers) {
            writer.setProcessChannelMode(QProcess::ForwardedChannels);
            writer.start(QStringLiteral(SETTINGS_WRITER), {m_file, QStringLiteral("Réglages"),
                                                           &writer == writers ? "a" : "bb", QString::number(count)});
        }
        for (QProcess &writer : writers)
            QVERIFY(writer.waitForFinished(120000) && writer.exitCode() == 0);
        IniSettingsStore store(m_file);
        for (int i = 0; i < count; ++i) {
            QCOMPARE(store.read(QStringLiteral("Réglages"), QStringLiteral("a%1").arg(i)), QString::number(i));
            QCOMPARE(store.read(QStringLiteral("Réglages"), QStringLiteral("bb%1").arg(i)), QString::number(i));
        }
    }

    // Writers killed half-way leave locks naming no owner and scratch copies;
    // the next write is held up by none and clears the copies old enough to
    // be no live writer's, and nothing else.
    void leftoversOfKilledWriters()
    {
        const QMap<QString, int> leftovers{{"Tintarel.ini.writer-lock", 0},
                                           {"Tintarel.ini.writer-lock.rmlock", 0},
                                           {"Tintarel.ini.write-Ab3xYz", 3600},
                                           {"Tintarel.ini.write-Q9z0aB.read", 120}, // of an earlier build
                                           {"Tintarel.ini.write-Cd4xYz", 0},        // a writer still at work
                                           {"Tintarel.ini.backup", 3600},
                                           {"Other.ini.write-Ab3xYz", 3600}};
        const QString folder = QFileInfo(m_file).absolutePath() + QLatin1Char('/');
        for (auto it = leftovers.begin(); it != leftovers.end(); ++it) {
            put(folder + it.key(), "[Position]\nTop=1\n");
            QFile file(folder + it.key());
            const QDateTime time = QDateTime::currentDateTime().addSecs(-it.value());
            QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(time, QFileDevice::FileModificationTime));
        }
        QVERIFY(IniSettingsStore(m_file).write(QStringLiteral("Position"), QStringLiteral("Left"), QStringLiteral("2")));
        QCOMPARE(IniSettingsStore(m_file).read(QStringLiteral("Position"), QStringLiteral("Left")), QStringLiteral("2"));
        QCOMPARE(QDir(folder).entryList(QDir::Files),
                 QStringList({"Other.ini.write-Ab3xYz", "Tintarel.ini", "Tintarel.ini.backup",
                              "Tintarel.ini.write-Cd4xYz", "Tintarel.ini.writer-lock.rmlock"}));
    }
};

QTEST_GUILESS_MAIN(tst_SettingsFile)
#include "tst_settingsfile.moc"
