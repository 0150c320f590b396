#include "ChimeSequencer.h"
#include "Configuration.h"
#include "IniSettingsStore.h"
#include "MessageBox.h"
#include "frmHorloge.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {

struct CountingMessageBox : MessageBox
{
    Answer show(const QString &, const QString &, Icon, Buttons) override
    {
        ++shown;
        return Answer::Ok;
    }
    int shown = 0;
};

} // namespace

// The real clock window on the test's display: its face sizes, the menu
// and the activation command. Dragging is tested on the real program.
class tst_ClockFace : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<IniSettingsStore> m_store;
    std::unique_ptr<Configuration> m_config;
    CountingMessageBox m_messages;
    std::unique_ptr<frmHorloge> m_form;

    QString iniPath() const { return m_dir->path() + "/Tintarel.ini"; }
    int stored(const QString &key) const { return QSettings(iniPath(), QSettings::IniFormat).value(key).toInt(); }

    void startClock(const QByteArray &ini)
    {
        m_form.reset();
        m_config.reset();
        m_messages.shown = 0;
        m_dir = std::make_unique<QTemporaryDir>();
        QFile file(iniPath());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(ini) == ini.size());
        file.close();
        m_store = std::make_unique<IniSettingsStore>(iniPath());
        m_config = Configuration::create(*m_store);
        QVERIFY(m_config);
        m_form = std::make_unique<frmHorloge>(*m_config, m_messages);
        m_form->Load();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    }

private Q_SLOTS:
    void faceSizes_data()
    {
        QTest::addColumn<int>("taille");
        QTest::addColumn<int>("calendrier");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("storedTaille");
        QTest::newRow("small") << 0 << 0 << QSize(88, 28) << 0;
        QTest::newRow("large, written again") << 1 << 0 << QSize(120, 37) << 1;
        QTest::newRow("large with date") << 1 << 1 << QSize(126, 73) << 1;
        QTest::newRow("Taille 7 snaps the designed size") << 7 << 1 << QSize(126, 73) << 1;
        QTest::newRow("Calendrier 3 keeps the designed size") << 0 << 3 << QSize(138, 84) << 0;
    }
    void faceSizes()
    {
        QFETCH(int, taille);
        QFETCH(int, calendrier);
        QFETCH(QSize, size);
        QFETCH(int, storedTaille);
        const QString ini = QString("[Position]\nTaille=%1\n[R%E9glages]\nCalendrier=%2\n").arg(taille).arg(calendrier);
        startClock(ini.toLatin1());
        QCOMPARE(m_form->size(), size);
        QCOMPARE(stored("Position/Taille"), storedTaille);
        QCOMPARE(m_form->lblDate->isVisible(), calendrier == 1);
        QCOMPARE(m_form->lblForm->geometry(), m_form->rect());
    }

    void resizeSnapsOnceAndRecordsTaille()
    {
        startClock("[Position]\nTaille=1\n");
        m_form->resize(93, 40); // 1395 x 600 twips: narrower than the threshold
        QTRY_COMPARE(m_form->size(), QSize(88, 28));
        QCOMPARE(stored("Position/Taille"), 0);
        QCOMPARE(m_form->lblForm->size(), QSize(88, 28));
        // Nothing moves any more by itself.
        QTest::qWait(100);
        QCOMPARE(m_form->size(), QSize(88, 28));
    }

    void rightButtonOpensTheMenuAndNeverDrags()
    {
        startClock("");
        QTest::mousePress(m_form->lblForm, Qt::RightButton, {}, QPoint(10, 10));
        QVERIFY(!m_form->GlissementEnCours);
        bool menuWasOpen = false;
        QTimer::singleShot(100, m_form.get(), [&] {
            menuWasOpen = m_form->mnuContextuel->isVisible();
            m_form->mnuContextuel->close();
        });
        QTest::mouseRelease(m_form->lblForm, Qt::RightButton, {}, QPoint(10, 10));
        QVERIFY(menuWasOpen);
        QVERIFY(!m_form->GlissementEnCours);
    }

    void interruptIsEnabledOnlyByThePlayingHint()
    {
        startClock("");
        for (const QString &hint : {ChimeHint::Idle, ChimeHint::Playing, ChimeHint::Failed}) {
            m_form->AfficherAide(hint);
            QCOMPARE(m_form->mnuContextuelInterrompre->isEnabled(), hint == ChimeHint::Playing);
            QCOMPARE(m_form->lblForm->toolTip(), hint);
        }
    }

    // A settings file replaced by a folder fails the write, which is told each
    // time, and the chimes follow the choice all the same.
    void activationThatCannotBeStored()
    {
        startClock("[R%E9glages]\nActiver=1\n");
        QFile::remove(iniPath());
        QDir().mkpath(iniPath());
        m_form->basculerActivation();
        QCOMPARE(m_config->Activer(), 0);
        QCOMPARE(m_form->mnuContextuelActivation->text(), "Activer le carillon");
        m_form->basculerActivation();
        QCOMPARE(m_config->Activer(), 1);
        QCOMPARE(m_form->mnuContextuelActivation->text(), "Désactiver le carillon");
        QCOMPARE(m_messages.shown, 2);
        // A value that is neither on nor off is left alone.
        startClock("[R%E9glages]\nActiver=5\n");
        m_form->basculerActivation();
        QCOMPARE(m_config->Activer(), 5);
    }
};

int main(int argc, char *argv[])
{
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QApplication app(argc, argv);
    tst_ClockFace test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_clockface.moc"
