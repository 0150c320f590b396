#pragma once

#include "ChimeSequencer.h"
#include "VisibilityRule.h"

#include <QElapsedTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class ChimePlayer;
class Configuration;
class MessageBox;
class QAction;
class ScreenSaver;
class SecondTicker;
class SettingsQuietRules;
class QLabel;
class QMenu;

// The hidden top-level window that carries the application title. Other
// programs close the clock by asking this window to close.
class ApplicationWindow : public QWidget
{
public:
    explicit ApplicationWindow(std::function<void()> onCloseRequest);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    std::function<void()> m_onCloseRequest;
};

// The clock window: a small frameless face with the time and, when chosen,
// the date, floating above other windows.
class frmHorloge : public QWidget, public ChimeHost, public VisibilityWindow
{
    Q_OBJECT

public:
    // Message boxes go through `messages`, which must outlive the window.
    frmHorloge(Configuration &config, MessageBox &messages, QWidget *parent = nullptr);
    ~frmHorloge() override;

    // Start-up once the settings are read: place, size, colour and fill
    // the face, then decide whether it is shown.
    void Load();
    // Shut-down: saves the position and releases the player; the program
    // then ends. Runs once, whoever asks.
    void Unload();

    void AfficherAide(const QString &text) override;
    void AppliquerVisibilite() override;
    void showTime(const QString &text) override;
    void refreshDate(const QDate &today) override;
    void MettreEnPage();
    void CouperDate();
    // The running instance was asked by a second start to come forward.
    void bringForward();

    bool EstPremierPlan() override;
    void showOnTop() override;
    void hideWindow() override;

    // The user's commands.
    void doubleClickAction();
    void configurer();
    void interrompre();
    void basculerActivation();

    int EtatCarillon() const { return m_sequencer->EtatCarillon(); }
    bool GlissementEnCours = false;

    QLabel *lblForm = nullptr;
    QLabel *lblDate = nullptr;
    QLabel *lblHorloge = nullptr;
    QMenu *mnuContextuel = nullptr;
    QAction *mnuContextuelConfigurer = nullptr;
    QAction *mnuContextuelQuitter = nullptr;
    QAction *mnuContextuelInterrompre = nullptr;
    QAction *mnuContextuelActivation = nullptr;
    ApplicationWindow *applicationWindow() const { return m_applicationWindow.get(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    // Shut-down's first step: the place in twips, unless StartPos is 2.
    void storePosition(QPoint place);
    QSize sizeInPixels(double widthTwips, double heightTwips) const;
    void openConfigurationProgram();
    void showActivationCaption();
    void prepareSoundBeforeQuarter();
    // Labels across the whole width, lblForm over the whole face, and the
    // size remembered as the last laid out.
    void fitToWindow();

    Configuration &m_config;
    MessageBox &m_messages;
    std::unique_ptr<ApplicationWindow> m_applicationWindow;
    std::unique_ptr<ScreenSaver> m_screenSaver;
    std::unique_ptr<SettingsQuietRules> m_quietRules;
    std::unique_ptr<ChimePlayer> m_player;
    SystemTimeSource m_timeSource;
    std::unique_ptr<ChimeSequencer> m_sequencer;
    std::unique_ptr<SecondTicker> m_ticker;
    std::unique_ptr<VisibilityRule> m_visibilityRule;

    float DepartGlisserX = 0;
    float DepartGlisserY = 0;
    QPointF m_grab;
    // Where the last drag put the window, until Qt reports it there.
    std::optional<QPoint> m_dragEnd;
    // The last place read or stored, in pixels and in the twips it came from.
    struct StoredPlace
    {
        QPoint pixels;
        int32_t left = 0;
        int32_t top = 0;
    } m_storedPlace;
    bool m_unloaded = false;
    bool m_soundPrepared = false;

    bool MiseEnPageEnCours = false;
    int16_t HauteurPrecedente = 0;
    int16_t LargeurPrecedente = 0;
    // The size of our own last snap, until the window manager's answer to
    // it has arrived: a different answer is accepted, not fought.
    std::optional<QSize> m_pendingSnap;
    QElapsedTimer m_pendingSnapAge;
};
