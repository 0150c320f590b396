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

class RecordingMessageBox : public MessageBox
{
public:
    Answer show(const QString &caption, const QString &text, Icon, Buttons) override
    {
        shown << caption + QLatin1Char('|') + text;
        return Answer::Ok;
    }
    QStringList shown;
};

} // namespace

// The real clock window on the test's display: its face sizes, the menu
// and the activation command. Dragging is tested on the real program.
class tst_ClockFace : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<IniSettingsStore> m_store;
    std::unique_ptr<Configuration> m_config;
    RecordingMessageBox m_messages;
    std::unique_ptr<frmHorloge> m_form;

    QString iniPath() const { return m_dir->path() + QStringLiteral("/Tintarel.ini"); }
    QString stored(const QString &key) const { return QSettings(iniPath(), QSettings::IniFormat).value(key).toString(); }

    void startClock(const QByteArray &ini)
    {
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
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_messages.shown.clear();
    }
    void cleanup()
    {
        m_form.reset();
        m_config.reset();
    }

    void faceSizes_data()
    {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("taille");
        QTest::addColumn<bool>("dateShown");
        QTest::newRow("small") << QByteArray("[Position]\nTaille=0\n") << QSize(88, 28) << "0" << false;
        QTest::newRow("large, written again") << QByteArray("[Position]\nTaille=1\n") << QSize(120, 37) << "1" << false;
        QTest::newRow("large with date") << QByteArray("[Position]\nTaille=1\n[R%E9glages]\nCalendrier=1\n") << QSize(126, 73) << "1" << true;
        QTest::newRow("Taille 7 snaps the designed size") << QByteArray("[Position]\nTaille=7\n[R%E9glages]\nCalendrier=1\n") << QSize(126, 73) << "1" << true;
        QTest::newRow("Calendrier 3 keeps the designed size") << QByteArray("[Position]\nTaille=0\n[R%E9glages]\nCalendrier=3\n") << QSize(138, 84) << "0" << false;
    }

    void faceSizes()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QSize, size);
        QFETCH(QString, taille);
        QFETCH(bool, dateShown);
        startClock(ini);
        QCOMPARE(m_form->size(), size);
        QCOMPARE(stored(QStringLiteral("Position/Taille")), taille);
        QCOMPARE(m_form->lblDate->isVisible(), dateShown);
        QCOMPARE(m_form->lblForm->geometry(), m_form->rect());
    }

    void resizeSnapsOnceAndRecordsTaille()
    {
        startClock("[Position]\nTaille=1\n");
        QCOMPARE(m_form->size(), QSize(120, 37));
        m_form->resize(93, 40); // 1395 x 600 twips: narrower than the threshold
        QTRY_COMPARE(m_form->size(), QSize(88, 28));
        QCOMPARE(stored(QStringLiteral("Position/Taille")), QStringLiteral("0"));
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
        QVERIFY(!m_form->mnuContextuelInterrompre->isEnabled());
        m_form->AfficherAide(ChimeHint::Playing);
        QVERIFY(m_form->mnuContextuelInterrompre->isEnabled());
        QCOMPARE(m_form->lblForm->toolTip(), ChimeHint::Playing);
        QCOMPARE(m_form->lblDate->toolTip(), ChimeHint::Playing);
        m_form->AfficherAide(ChimeHint::Failed);
        QVERIFY(!m_form->mnuContextuelInterrompre->isEnabled());
    }

    // The menu's switch, twice; a settings file replaced by a folder fails the
    // write, and the chimes follow the choice all the same.
    void activationToggles_data()
    {
        QTest::addColumn<QString>("activer");
        QTest::addColumn<bool>("unwritable");
        QTest::addColumn<QString>("afterOne");
        QTest::addColumn<QString>("captionAfterOne");
        QTest::newRow("on") << "1" << false << "0" << "Activer le carillon";
        QTest::newRow("off") << "0" << false << "1" << "Désactiver le carillon";
        QTest::newRow("other value does nothing") << "5" << false << "5" << "Désactiver le carillon";
        QTest::newRow("cannot be stored") << "1" << true << "0" << "Activer le carillon";
    }
    void activationToggles()
    {
        QFETCH(QString, activer);
        QFETCH(bool, unwritable);
        QFETCH(QString, afterOne);
        QFETCH(QString, captionAfterOne);
        startClock("[R%E9glages]\nActiver=" + activer.toLatin1() + "\n");
        if (unwritable) {
            QFile::remove(iniPath());
            QDir().mkpath(iniPath());
        }
        m_form->basculerActivation();
        QCOMPARE(m_config->Activer(), afterOne.toInt());
        QCOMPARE(m_form->mnuContextuelActivation->text(), captionAfterOne);
        // A failed write is told each time: the store's own notice comes only once.
        QCOMPARE(m_messages.shown.size(), unwritable ? 1 : 0);
        if (unwritable)
            return;
        if (activer != QLatin1String("5"))
            QCOMPARE(stored(QStringLiteral("Réglages/Activer")), afterOne);
        m_form->basculerActivation();
        QCOMPARE(m_config->Activer(), activer.toInt());
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
