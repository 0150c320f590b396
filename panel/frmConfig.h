#pragma once

#include "Audition.h"
#include "basPublics.h"

#include <QImage>
#include <QPointer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class ChimePlayer;
class CheckBox;
class ClockControl;
class ColourChooser;
class Configuration;
class DragOutline;
class HelpWindow;
class MessageBox;
class MiniClock;
class ScreenPicture;
class SettingsStore;
class StartupLibrary;
class UpDown;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMouseEvent;
class QPushButton;
class QRadioButton;
class QTimeEdit;
class QTimer;

// The configuration dialog: shows every setting, takes the running clock
// down while it is open, stores the settings on "OK" and starts the clock
// again when it closes.
class frmConfig : public QWidget
{
public:
    // What the dialog works with besides its own controls.
    struct Services
    {
        MessageBox &messages;
        ClockControl &clock;
        ChimePlayer &player;
        ColourChooser &colours;
        SettingsStore &store;
        // The program's DemarrApp when null.
        StartupLibrary *library = nullptr;
        // The folder of the sound files and the help file.
        QString folder;
        std::function<void()> beep;
        // Lets the event loop run once.
        std::function<void()> yield;
    };

    explicit frmConfig(Services services, QWidget *parent = nullptr);
    ~frmConfig() override;

    // Fills the dialog from the settings; arguments is the whole command
    // line after the program's name.
    void Load(const QString &arguments);
    bool FindProcess(const QString &exeName);

    // Form-level state.
    bool RestartClock = false;
    int VisibilityIndex = 0;
    int StartPosIndex = 0;
    int16_t GrabX = 0;
    int16_t GrabY = 0;
    int AuditionState() const { return m_audition.AuditionState(); }

    // Event handlers, run by the controls and by the load.
    void chkActiver_Click();
    void chkPlage_Click();
    void optCarillon_Click(int index);
    void optVisi_Click(int index);
    void cmdFond_Click(int index);
    void cmdPlay_Click();
    void mciHor_Done(int notifyCode);
    void timSimul_Timer();
    void optPlace_Click(int index);
    // Whether the focus may leave the field.
    bool txtPos_Validate(int index);
    void updPos_Change(int index);
    void cmdOk_Click();
    void cmdAnnuler_Click();
    // Runs once, on whichever unload. Only an ending the user asked for in
    // the dialog may ask whether to start the clock.
    void QueryUnload(bool mayAsk = true);
    // An ending that does not come through the dialog (a termination
    // signal, the session's end): the unload without a question, then every
    // event loop ends, a message box's included. Asked during the load, it
    // runs once the load is over.
    void Unload();
    bool isUnloaded() const { return m_unloaded; }
    // Another start of the program asked for the dialog: it comes forward,
    // with the message box it shows, if any.
    void bringForward();
    // Shrinks, and as a last resort elides, every caption that does not fit
    // its box in the font it was given; an elided caption shows the whole
    // text as its tooltip.
    void fitCaptions();

    // The colours of the sample, as they will be stored.
    uint32_t demoForeColor() const { return m_demoFore; }
    uint32_t demoBackColor() const { return m_demoBack; }
    // The key of the image the play button shows.
    QString playImage() const { return m_playImage; }
    QString helpFile() const { return m_helpFile; }
    HelpWindow *helpWindow() const;
    // The mini clock's place in the picture's units (twips).
    QPointF miniClockPlace() const;
    // Where the desktop picture was drawn in the picture box, in pixels of
    // its drawing area; empty when none was.
    QRectF drawnPicture() const { return m_drawnPicture; }
    bool isDragging() const { return m_dragging; }
    QWidget *dragOutline() const;

    // Controls, by their names; indexed groups keep their indexes.
    QGroupBox *fraDémarrage;
    CheckBox *chkDémarrage;
    QGroupBox *fraCarillons;
    CheckBox *chkActiver;
    CheckBox *chkVeille;
    CheckBox *chkPlage;
    QLabel *Label2;
    QTimeEdit *dtpDeb;
    QLabel *Label3;
    QTimeEdit *dtpFin;
    std::array<QRadioButton *, 4> optCarillon;
    CheckBox *chkNbHeures;
    QGroupBox *Frame3;
    CheckBox *chkCalendrier;
    QGroupBox *fraVisibilité;
    std::array<QRadioButton *, 4> optVisi;
    QGroupBox *Frame1;
    QLabel *lblDemo;
    std::array<QPushButton *, 3> cmdFond;
    QGroupBox *fraAudit;
    QComboBox *cboCar;
    QPushButton *cmdPlay;
    QGroupBox *fraPlace;
    std::array<QRadioButton *, 3> optPlace;
    std::array<QLabel *, 2> lblPosDir;
    std::array<QLineEdit *, 2> txtPos;
    std::array<UpDown *, 2> updPos;
    std::array<QLabel *, 2> lblPos;
    ScreenPicture *picScreen;
    MiniClock *picHor;
    QPushButton *cmdOk;
    QPushButton *cmdAnnuler;
    QLabel *lblHorloge;
    QTimer *timSimul;
    // The audition's player and the colour chooser.
    ChimePlayer &mciHor;
    ColourChooser &dlgConfig;

    // The help topic a control answers F1 with; 0 for none.
    static int helpTopic(const QWidget *control);

protected:
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    using RunError = basPublics::RunError;

    void createControls();
    template <class Control>
    Control *place(Control *control, int left, int top, int width, int height, int tab = -1, int help = 0);
    void setTabOrder();

    std::optional<RunError> loadSettings(const QString &arguments);
    std::optional<RunError> loadMiniClock();
    bool trap(const RunError &error);
    std::optional<RunError> setCheck(CheckBox *box, int value, const char *name);
    template <size_t N>
    std::optional<RunError> selectOption(const std::array<QRadioButton *, N> &group, int index, const char *name);
    std::optional<RunError> DessinerBureau();

    void applyDemoColours();
    void showImage(const QString &key);
    void showHelp(QWidget *control);
    void placeHelpWindow();
    void setInitialFocus();
    void startClock();

    // The start-position editor.
    float screenWidthTwips() const;
    float screenHeightTwips() const;
    float pictureWidth() const;
    float pictureHeight() const;
    void placeMiniClock(float left, float top);
    bool placeMiniClockFromFields();
    void setPositionText(int index, const QString &text);
    bool acceptsPositionKey(const QKeyEvent *key) const;
    void focusMoved(QWidget *old, QWidget *now);
    void picHor_MouseDown(QMouseEvent *event);
    void dragMove(QMouseEvent *event);
    void dragEnd(QMouseEvent *event);
    QWidget *surfaceAt(QPointF global) const;
    void picScreen_DragDrop(QPointF point);

    Services m_services;
    Audition m_audition;
    QString m_helpFile;
    QPointer<HelpWindow> m_helpWindow;
    QString m_playImage;
    uint32_t m_demoFore = 0;
    uint32_t m_demoBack = 0;
    std::vector<std::pair<int, QWidget *>> m_tabOrder;
    bool m_unloaded = false;
    bool m_loading = false;
    bool m_unloadAfterLoad = false;
    // Position fields the user changed since their last validation.
    std::array<bool, 2> m_positionEdited{false, false};
    bool m_validating = false;
    // A press that moved the focus out of a field that failed validation:
    // the control pressed must not act on it.
    bool m_swallowPress = false;
    bool m_dragging = false;
    DragOutline *m_outline = nullptr;
    QImage m_desktop;
    QRectF m_drawnPicture;
    QMetaObject::Connection m_focusConnection;
};
