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
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
    }
    static void put(const QString &path, const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }
    static QProcess *startWriter(const QString &file, const QString &prefix, int count)
    {
        auto *process = new QProcess;
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        process->start(QStringLiteral(SETTINGS_WRITER), {file, QStringLiteral("Réglages"), prefix, QString::number(count)});
        return process;
    }

private Q_SLOTS:
    void init()
    {
        const QString tag = QString::fromUtf8(QTest::currentDataTag());
        m_file = m_dir.path() + QLatin1Char('/') + (tag.isEmpty() ? QStringLiteral("shared") : tag) + "/Tintarel.ini";
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
        QTest::newRow("names in another case") << QByteArray("[r\xC3\xA9GLAGES]\ncarillons=0\n")
                                               << QStringList{"Réglages/Carillons=0"} << "Réglages/Carillons=1"
                                               << QByteArray("[r\xC3\xA9GLAGES]\ncarillons=1\n");
        QTest::newRow("Latin-1 names") << QByteArray("[R\xE9glages]\nVisibilit\xE9=1\n")
                                       << QStringList{"Réglages/Visibilité=1"} << "Réglages/Visibilité=3"
                                       << QByteArray("[R\xE9glages]\nVisibilit\xE9=3\n");
        QTest::newRow("other tools' sections")
            << QByteArray("[Other Tool]\nlist=a,b,c\npath = C:\\x ; y\nTop=9\n\n[Position]\nTop=1\n")
            << QStringList{"Position/Top=1", "Other Tool/list=a,b,c"} << "Position/Top=2"
            << QByteArray("[Other Tool]\nlist=a,b,c\npath = C:\\x ; y\nTop=9\n\n[Position]\nTop=2\n");
        QTest::newRow("first match wins, new key in the first section")
            << QByteArray("[Position]\nTop=1\n[POSITION]\nTop=2\nLeft=5\n")
            << QStringList{"Position/Top=1", "Position/Left=5"} << "Position/Taille=1"
            << QByteArray("[Position]\nTop=1\nTaille=1\n[POSITION]\nTop=2\nLeft=5\n");
        const QByteArray current("[Position]\nLeft=3000\nTaille=0\nTop=1500\n\n[R%E9glages]\nCarillons=2\n"
                                 "Visibilit%E9=1\n\n[Plage]\nCheck=0\nDebut=10:00:00\n");
        QTest::newRow("written by the earlier build")
            << current << QStringList{"Réglages/Visibilité=1", "Plage/Debut=10:00:00", "Position/Top=1500"}
            << "Réglages/Activer=0"
            << QByteArray(current).replace("Visibilit%E9=1\n", "Visibilit%E9=1\nActiver=0\n");
        QTest::newRow("no file") << QByteArray("<none>") << QStringList{"Réglages/Visibilité"}
                                 << "Réglages/Visibilité=2" << QByteArray("[R%E9glages]\nVisibilit%E9=2\n");
        QTest::newRow("new section after a last line without its end")
            << QByteArray("[Position]\nTop=1") << QStringList{"Position/Top=1"} << "Plage/Check=1"
            << QByteArray("[Position]\nTop=1\n\n[Plage]\nCheck=1\n");
        QTest::newRow("a subsection hides nothing") << QByteArray("[Position]\nTop=5\n[Position/A]\nx=1\n")
                                                    << QStringList{"Position/Top=5", "Position/x"} << "Position/Top=5"
                                                    << QByteArray("[Position]\nTop=5\n[Position/A]\nx=1\n");
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
        if (before != "<none>")
            put(file, before);
        if (link) {
            QDir().mkpath(QFileInfo(m_file).absolutePath());
            QVERIFY(QFile::link(file, m_file));
        }
        QStringList told;
        IniSettingsStore store(m_file, [&](const QString &path, const QString &why) { told << path + ": " + why; });
        for (const QString &read : reads) {
            const QString name = read.section(QLatin1Char('='), 0, 0);
            const std::optional<QString> expected = read.contains(QLatin1Char('='))
                ? std::optional<QString>(read.section(QLatin1Char('='), 1)) : std::nullopt;
            QCOMPARE(store.read(name.section(QLatin1Char('/'), 0, 0), name.section(QLatin1Char('/'), 1)), expected);
        }
        const QString name = write.section(QLatin1Char('='), 0, 0);
        const QString section = name.section(QLatin1Char('/'), 0, 0);
        const QString key = name.section(QLatin1Char('/'), 1);
        const QString text = write.section(QLatin1Char('='), 1);
        QCOMPARE(store.write(section, key, text), !after.isEmpty());
        QCOMPARE(contents(file), after.isEmpty() ? before : after);
        if (after.isEmpty()) {
            QCOMPARE(told, QStringList{m_file + ": il ne contient pas du texte"});
            return;
        }
        QVERIFY(told.isEmpty());
        QCOMPARE(store.read(section, key), text);
        QCOMPARE(QFileInfo(m_file).isSymLink(), link);
        QCOMPARE(QDir(QFileInfo(file).absolutePath()).entryList({QStringLiteral("*.write-*")}, QDir::Files), QStringList());
    }

    void concurrentWritersLoseNoKey()
    {
        const int count = 150;
        std::unique_ptr<QProcess> first(startWriter(m_file, QStringLiteral("a"), count));
        std::unique_ptr<QProcess> second(startWriter(m_file, QStringLiteral("bb"), count));
        QVERIFY(first->waitForFinished(120000) && second->waitForFinished(120000));
        QCOMPARE(first->exitCode(), 0);
        QCOMPARE(second->exitCode(), 0);
        IniSettingsStore store(m_file);
        for (int i = 0; i < count; ++i) {
            QCOMPARE(store.read(QStringLiteral("Réglages"), QStringLiteral("a%1").arg(i)), QString::number(i));
            QCOMPARE(store.read(QStringLiteral("Réglages"), QStringLiteral("bb%1").arg(i)), QString::number(i));
        }
    }

    // A writer killed while it cleared away the lock of an earlier one leaves
    // both lock files behind, naming no owner; they hold up no later writer.
    void locksOfKilledWritersHoldUpNoOne()
    {
        for (const char *name : {"Tintarel.ini.writer-lock", "Tintarel.ini.writer-lock.rmlock"})
            put(m_file + QString::fromLatin1(name).mid(12), "");
        QVERIFY(IniSettingsStore(m_file).write(QStringLiteral("Position"), QStringLiteral("Left"), QStringLiteral("2")));
        QCOMPARE(IniSettingsStore(m_file).read(QStringLiteral("Position"), QStringLiteral("Left")), QStringLiteral("2"));
    }

    void leftoversOfKilledWritersAreCleared_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("ageSeconds");
        QTest::addColumn<bool>("removed");
        QTest::newRow("old copy") << "Tintarel.ini.write-Ab3xYz" << 3600 << true;
        QTest::newRow("old copy of an earlier build") << "Tintarel.ini.write-Q9z0aB.read" << 120 << true;
        QTest::newRow("copy of a writer still at work") << "Tintarel.ini.write-Ab3xYz" << 0 << false;
        QTest::newRow("the user's backup") << "Tintarel.ini.backup" << 3600 << false;
        QTest::newRow("another program's copy") << "Other.ini.write-Ab3xYz" << 3600 << false;
    }

    void leftoversOfKilledWritersAreCleared()
    {
        QFETCH(QString, name);
        QFETCH(int, ageSeconds);
        QFETCH(bool, removed);
        const QString leftover = QFileInfo(m_file).absolutePath() + QLatin1Char('/') + name;
        put(leftover, "[Position]\nTop=1\n");
        QFile file(leftover);
        QVERIFY(file.open(QIODevice::ReadWrite)
                && file.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds), QFileDevice::FileModificationTime));
        file.close();
        QVERIFY(IniSettingsStore(m_file).write(QStringLiteral("Position"), QStringLiteral("Left"), QStringLiteral("2")));
        QCOMPARE(QFileInfo::exists(leftover), !removed);
        QCOMPARE(QDir(QFileInfo(m_file).absolutePath()).entryList(QDir::Files).size(), removed ? 1 : 2);
    }
};

QTEST_GUILESS_MAIN(tst_SettingsFile)
#include "tst_settingsfile.moc"
