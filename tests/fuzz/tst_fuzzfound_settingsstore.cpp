// Settings files found by fuzz/fuzz_settings that the settings store
// mishandles. Each input is embedded as found (or reduced).
#include "Configuration.h"
#include "IniSettingsStore.h"
#include "StartupLibrary.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/resource.h>

namespace {

class StandInLibrary : public StartupLibrary
{
public:
    QString CléLectureValeur(ostrevol::HKey, const QString &, const QString &, bool) override { return {}; }
    bool RegDemarrAjoutApp(const QString &, const QString &, const QString &, bool) override { return true; }
    bool RegDemarrSupprimApp(const QString &, bool) override { return true; }
};

} // namespace

class tst_FuzzFoundSettingsStore : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    int m_serial = 0;

    // A file name not used before in this process: Qt caches settings files
    // by name, and each row must start from a file it has never seen.
    QString freshIni(const QByteArray &text)
    {
        const QString path = m_dir->path() + QStringLiteral("/%1.ini").arg(++m_serial);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    static long maxResidentKiB()
    {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return usage.ru_maxrss;
    }
    static QByteArray contents(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
    }

private Q_SLOTS:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    // IniSettingsStore::write means never to rewrite a file it could not
    // parse, and checks QSettings::status() before writing for that. But the
    // status does not show the error once the file was read in this process
    // (Qt then serves it from its cache without parsing it again), nor, for
    // a line without '=', before sync() has already rewritten the file.
    void refusedWriteLeavesFileAlone_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<bool>("readFirst");
        const QByteArray noEquals("[Plage]\nDebut\nFin=7:30\n");
        const QByteArray unclosed("[R\xc3\xa9glages\\=\n[R%E9glages\nVeille=\n");
        QTest::newRow("line without '=', fresh") << noEquals << false;
        QTest::newRow("line without '=', after a read") << noEquals << true;
        QTest::newRow("unclosed section, fresh") << unclosed << false;
        QTest::newRow("unclosed section, after a read") << unclosed << true;
    }

    void refusedWriteLeavesFileAlone()
    {
        QFETCH(QByteArray, ini);
        QFETCH(bool, readFirst);
        const QString path = freshIni(ini);
        IniSettingsStore store(path);
        if (readFirst)
            store.read(QStringLiteral("Plage"), QStringLiteral("Fin")); // as the programs do at start
        const bool written = store.write(QStringLiteral("Plage"), QStringLiteral("Check"), QStringLiteral("1"));
        const QByteArray after = contents(path);
        QVERIFY2(!written && after == ini,
                 qPrintable(QStringLiteral("write() gave %1, file now:\n%2")
                                .arg(written)
                                .arg(QString::fromUtf8(after))));
    }

    // QSettings parses an INI file one section at a time, on demand, and a
    // value() lookup only parses the nearest section sorting before the key:
    // a section such as [Position/A] hides the keys of [Position] from a
    // QSettings that has not parsed the whole file. They reappear after any
    // write (which parses everything), so a setting changes by itself, or
    // the settings stop loading because of a value never checked.
    void subsectionHidesKeys_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        QTest::newRow("subsection") << QByteArray("[Position]\nTop=5\n[Position/A]\nx=1\n") << "Position" << "Top"
                                    << "5";
        QTest::newRow("backslash in a section name")
            << QByteArray("[R\xc3\xa9glages\\=\n[R%E9glages\nVeille=7\n") << "Réglages" << "Veille" << "7";
    }

    void subsectionHidesKeys()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        IniSettingsStore store(freshIni(ini));
        QCOMPARE(store.read(section, key).value_or(QStringLiteral("<none>")), expected);
    }

    void subsectionHidesSettings()
    {
        IniSettingsStore store(freshIni("[Position]\nTop=5\n[Position/A]\nx=1\n"));
        StandInLibrary library;
        const auto config = Configuration::create(store, nullptr, &library);
        QVERIFY(config);
        QCOMPARE(config->Position()->Top, int16_t(5));
    }

    // A value written "@Variant(...)" is decoded by QSettings from a binary
    // stream, and a list's count is taken from the file: QSettings then
    // reserves count × 32 bytes (64 GiB here) before finding the stream too
    // short. Qt copes with the reservation failing and never touches it, so
    // the settings load (or fail on that key) without using the memory; this
    // guards that, as the fuzz build (address sanitizer) stops on it.
    void hugeStoredCountIsSurvived_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<bool>("loads");
        QTest::newRow("as found") << QByteArray("=@Variant(\0\0\0\\x9/04)", 20) << true;
        QTest::newRow("in a setting") << QByteArray("[Position]\nTop=@Variant(\\0\\0\\0\\t\\x7f\\xff\\xff\\xff)\n")
                                      << false;
    }

    void hugeStoredCountIsSurvived()
    {
        QFETCH(QByteArray, ini);
        QFETCH(bool, loads);
        IniSettingsStore store(freshIni(ini));
        StandInLibrary library;
        SettingsError error;
        const long before = maxResidentKiB();
        const auto config = Configuration::create(store, &error, &library);
        QCOMPARE(bool(config), loads);
        if (!loads)
            QCOMPARE(error.key, QStringLiteral("Top"));
        QVERIFY2(maxResidentKiB() - before < 256 * 1024, "the settings used the memory the file asked for");
    }
};

QTEST_GUILESS_MAIN(tst_FuzzFoundSettingsStore)
#include "tst_fuzzfound_settingsstore.moc"
