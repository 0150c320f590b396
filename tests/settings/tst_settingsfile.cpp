#include "IniSettingsStore.h"

#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

// The settings file as two programs share it: concurrent writers and a
// writer killed half-way.
class tst_SettingsFile : public QObject
{
    Q_OBJECT

private:
    static QProcess *startWriter(const QString &file, const QString &prefix, int count)
    {
        auto *process = new QProcess;
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        process->start(QStringLiteral(SETTINGS_WRITER),
                       {file, QStringLiteral("Réglages"), prefix, QString::number(count)});
        return process;
    }

private Q_SLOTS:
    void concurrentWritersLoseNoKey()
    {
        QTemporaryDir dir;
        const QString file = dir.path() + QStringLiteral("/Tintarel/Tintarel.ini");
        const int count = 150;
        std::unique_ptr<QProcess> first(startWriter(file, QStringLiteral("a"), count));
        std::unique_ptr<QProcess> second(startWriter(file, QStringLiteral("bb"), count));
        QVERIFY(first->waitForFinished(120000));
        QVERIFY(second->waitForFinished(120000));
        QCOMPARE(first->exitCode(), 0);
        QCOMPARE(second->exitCode(), 0);

        IniSettingsStore store(file);
        for (int i = 0; i < count; ++i) {
            QCOMPARE(store.read(QStringLiteral("Réglages"), QStringLiteral("a%1").arg(i)), QString::number(i));
            QCOMPARE(store.read(QStringLiteral("Réglages"), QStringLiteral("bb%1").arg(i)), QString::number(i));
        }
    }

    void writerKilledMidWayLeavesAValidFile()
    {
        QTemporaryDir dir;
        const QString file = dir.path() + QStringLiteral("/Tintarel/Tintarel.ini");
        IniSettingsStore store(file);
        QVERIFY(store.write(QStringLiteral("Position"), QStringLiteral("Top"), QStringLiteral("1234")));

        std::unique_ptr<QProcess> writer(startWriter(file, QStringLiteral("k"), 100000));
        // Let it get well into its writes, then kill it without warning.
        QTRY_VERIFY_WITH_TIMEOUT(store.read(QStringLiteral("Réglages"), QStringLiteral("k40")).has_value(), 60000);
        ::kill(pid_t(writer->processId()), SIGKILL);
        QVERIFY(writer->waitForFinished(10000));

        QSettings settings(file, QSettings::IniFormat);
        QCOMPARE(settings.status(), QSettings::NoError);
        QCOMPARE(store.read(QStringLiteral("Position"), QStringLiteral("Top")), QStringLiteral("1234"));
        // Every key written before the kill is there, in order.
        int last = -1;
        while (store.read(QStringLiteral("Réglages"), QStringLiteral("k%1").arg(last + 1)))
            ++last;
        QVERIFY(last >= 40);
        QVERIFY(!store.read(QStringLiteral("Réglages"), QStringLiteral("k%1").arg(last + 2)));
        // A stale writer lock does not block the next writer for long.
        QVERIFY(store.write(QStringLiteral("Position"), QStringLiteral("Left"), QStringLiteral("5")));
    }

    void leftoversOfKilledWritersAreCleared_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("ageSeconds");
        QTest::addColumn<bool>("removed");
        QTest::newRow("old copy") << "Tintarel.ini.write-Ab3xYz" << 3600 << true;
        QTest::newRow("old copy read back") << "Tintarel.ini.write-Q9z0aB.read" << 120 << true;
        QTest::newRow("old copy's own lock") << "Tintarel.ini.write-Q9z0aB.lock" << 120 << true;
        QTest::newRow("copy of a writer still at work") << "Tintarel.ini.write-Ab3xYz" << 0 << false;
        QTest::newRow("the user's backup") << "Tintarel.ini.backup" << 3600 << false;
        QTest::newRow("another program's copy") << "Other.ini.write-Ab3xYz" << 3600 << false;
        QTest::newRow("not a copy name") << "Tintarel.ini.write-toolongname" << 3600 << false;
    }

    void leftoversOfKilledWritersAreCleared()
    {
        QFETCH(QString, name);
        QFETCH(int, ageSeconds);
        QFETCH(bool, removed);
        QTemporaryDir dir;
        const QString file = dir.path() + QStringLiteral("/Tintarel.ini");
        IniSettingsStore store(file);
        QVERIFY(store.write(QStringLiteral("Position"), QStringLiteral("Top"), QStringLiteral("1")));

        QFile leftover(dir.filePath(name));
        QVERIFY(leftover.open(QIODevice::WriteOnly));
        leftover.write("[Position]\nTop=1\n");
        QVERIFY(leftover.flush());
        QVERIFY(leftover.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds),
                                     QFileDevice::FileModificationTime));
        leftover.close();

        QVERIFY(store.write(QStringLiteral("Position"), QStringLiteral("Left"), QStringLiteral("2")));
        QCOMPARE(QFileInfo::exists(leftover.fileName()), !removed);
        QCOMPARE(store.read(QStringLiteral("Position"), QStringLiteral("Top")), QStringLiteral("1"));
        // The write itself leaves nothing beside the file and its lock.
        QDir folder(dir.path());
        QStringList others = folder.entryList(QDir::Files | QDir::Hidden);
        others.removeAll(QStringLiteral("Tintarel.ini"));
        others.removeAll(QStringLiteral("Tintarel.ini.writer-lock"));
        if (!removed)
            others.removeAll(name);
        QCOMPARE(others, QStringList());
    }
};

QTEST_GUILESS_MAIN(tst_SettingsFile)
#include "tst_settingsfile.moc"
