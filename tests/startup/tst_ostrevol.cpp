#include "ClassFactory.h"
#include "Ostrevol.h"
#include "ProbeRun.h"

#include <QTemporaryDir>
#include <QtTest>

#include <dlfcn.h>

namespace {

const QString library = QStringLiteral(TINTAREL_PROGRAM_DIR "/libOstrevol.so");

} // namespace

class tst_Ostrevol : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString root() const { return m_dir->path(); }

    // A program folder of its own holding a copy of the probe, and of the
    // library when asked.
    QString programFolderWith(const QString &name, bool withLibrary)
    {
        const QString folder = root() + QLatin1Char('/') + name;
        QDir().mkpath(folder);
        QFile::copy(QStringLiteral(OSTREVOL_PROBE), folder + QStringLiteral("/ostrevol_probe"));
        if (withLibrary)
            QFile::copy(library, folder + QStringLiteral("/libOstrevol.so"));
        return folder;
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        qputenv("XDG_DATA_HOME", (root() + QStringLiteral("/data")).toUtf8());
    }

    void loadingByClassId_data()
    {
        QTest::addColumn<bool>("libraryInFolder");
        QTest::addColumn<QString>("registration"); // "", "registered", "unregistered", "registered, then removed"
        QTest::addColumn<QString>("variant");
        QTest::addColumn<bool>("created");
        QTest::addColumn<QString>("errorNames");

        const QString classId = guidText(ostrevol::CLSID_DemarrApp);
        QTest::newRow("registered") << false << "registered" << "" << true << "";
        QTest::newRow("unregistered: the program folder") << true << "" << "" << true << "";
        QTest::newRow("registration removed") << false << "unregistered" << "" << false << "{folder}/libOstrevol.so";
        QTest::newRow("registered library gone") << true << "registered, then removed" << "" << false
                                                 << "{root}/registered/libOstrevol.so";
        QTest::newRow("library missing") << false << "" << "" << false << "{folder}/libOstrevol.so";
        QTest::newRow("wrong class id") << true << "" << "wrong-class" << false << "{0BADC0DE-1111-2222-0102-030405060708}";
        QTest::newRow("wrong interface id") << true << "" << "wrong-interface" << false
                                            << "l'interface {0BADC0DE-1111-2222-0102-030405060708}";
    }

    // Each case in a program started from a folder of its own, as the
    // programs look beside themselves.
    void loadingByClassId()
    {
        QFETCH(bool, libraryInFolder);
        QFETCH(QString, registration);
        QFETCH(QString, variant);
        QFETCH(bool, created);
        QFETCH(QString, errorNames);

        const QString folder = programFolderWith(QStringLiteral("program"), libraryInFolder);
        const QString probe = folder + QStringLiteral("/ostrevol_probe");
        if (!registration.isEmpty()) {
            const QString registered = programFolderWith(QStringLiteral("registered"), true)
                + QStringLiteral("/libOstrevol.so");
            ProbeRun step = runProbe(probe, {QStringLiteral("register"), registered}, root());
            QVERIFY2(step.failure.isEmpty(), qPrintable(step.failure));
            QCOMPARE(step.report.value(QStringLiteral("result")).toInt(), 0);
            if (registration == QLatin1String("unregistered")) {
                step = runProbe(probe, {QStringLiteral("unregister"), registered}, root());
                QCOMPARE(step.report.value(QStringLiteral("result")).toInt(), 0);
            }
            if (registration == QLatin1String("registered, then removed"))
                QVERIFY(QFile::remove(registered));
        }

        const ProbeRun run = runProbe(probe, {QStringLiteral("create"), variant}, root());
        QVERIFY2(run.failure.isEmpty(), qPrintable(run.failure));
        QCOMPARE(run.report.value(QStringLiteral("created")).toBool(), created);
        const QString error = run.report.value(QStringLiteral("error")).toString();
        QVERIFY2(error.contains(QString(errorNames).replace(QStringLiteral("{folder}"), folder)
                                    .replace(QStringLiteral("{root}"), root())),
                 qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(tst_Ostrevol)
#include "tst_ostrevol.moc"
