#include "frmHorloge.h"

#include "ChimePlayer.h"
#include "Configuration.h"
#include "DateTimeValue.h"
#include "FaceLayout.h"
#include "MessageBox.h"
#include "ProgramFolder.h"
#include "basOuvrirDocHor.h"
#include "QuietRules.h"
#include "ScreenMetrics.h"
#include "ScreenSaver.h"
#include "SecondTicker.h"
#include "SystemColours.h"
#include "X11Window.h"
#include "basPublics.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLocale>
#include <QLoggingCategory>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>

#include <cmath>
#include <limits>

using namespace basPublics;

namespace {

// Off by default; the timing benchmark turns it on to see when each second is shown.
Q_LOGGING_CATEGORY(lcTick, "tintarel.tick", QtWarningMsg)

QLocale userLocale()
{
    // The face speaks French when the environment names no language.
    const QLocale system = QLocale::system();
    if (system.language() == QLocale::C)
        return QLocale(QLocale::French, QLocale::France);
    return system;
}

// A window coordinate in twips as the store holds it; 0 when it does not
// fit in 32 bits.
int32_t toStoredTwips(int pixels, double twipsPerPixel)
{
    const double twips = std::nearbyint(pixels * twipsPerPixel);
    if (twips < std::numeric_limits<int32_t>::min() || twips > std::numeric_limits<int32_t>::max())
        return 0;
    return int32_t(twips);
}

QFont faceFont(const char *family, bool bold, double points)
{
    QFont font(QString::fromLatin1(family));
    font.setBold(bold);
    font.setPointSizeF(points);
    return font;
}

} // namespace

ApplicationWindow::ApplicationWindow(std::function<void()> onCloseRequest)
    : m_onCloseRequest(std::move(onCloseRequest))
{
    setWindowTitle(applicationTitle);
    setAttribute(Qt::WA_DontShowOnScreen);
    winId(); // exists without ever being shown, so that it can be asked to close
}

void ApplicationWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
    if (m_onCloseRequest)
        m_onCloseRequest();
}

frmHorloge::frmHorloge(Configuration &config, MessageBox &messages, QWidget *parent)
    : QWidget(parent, Qt::FramelessWindowHint | Qt::Tool | Qt::WindowStaysOnTopHint)
    , m_config(config)
    , m_messages(messages)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAutoFillBackground(true);

    // Design-time face: the layout replaces sizes and fonts.
    lblHorloge = new QLabel(QStringLiteral("00:00:00"), this);
    lblHorloge->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblHorloge->setFont(faceFont("Liberation Serif", true, 20.25));
    lblHorloge->setToolTip(QStringLiteral("Double-cliquez pour configurer"));

    lblDate = new QLabel(QStringLiteral("Dimanche 20 Septembre 2004"), this);
    lblDate->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblDate->setFont(faceFont("Liberation Sans", false, 9.75));
    lblDate->setToolTip(QStringLiteral("Double-cliquez pour configurer"));

    // Transparent and on top of the others, so that it takes every click.
    lblForm = new QLabel(this);
    lblForm->setToolTip(ChimeHint::Idle);
    lblForm->raise();

    mnuContextuel = new QMenu(QStringLiteral("Contextuel"), this);
    mnuContextuelConfigurer = mnuContextuel->addAction(QStringLiteral("Configurer"));
    mnuContextuelQuitter = mnuContextuel->addAction(QStringLiteral("Quitter"));
    mnuContextuel->addSeparator();
    mnuContextuelInterrompre = mnuContextuel->addAction(QStringLiteral("Interrompre le carillon"));
    mnuContextuelInterrompre->setEnabled(false);
    mnuContextuelActivation = mnuContextuel->addAction(QStringLiteral("Activation"));
    connect(mnuContextuelConfigurer, &QAction::triggered, this, [this] { configurer(); });
    connect(mnuContextuelQuitter, &QAction::triggered, this, [this] { Unload(); });
    connect(mnuContextuelInterrompre, &QAction::triggered, this, [this] { interrompre(); });
    connect(mnuContextuelActivation, &QAction::triggered, this, [this] { basculerActivation(); });
    for (QLabel *label : {lblForm, lblDate, lblHorloge})
        label->installEventFilter(this);

    // A size of its own between the four face sizes, as designed.
    resize(sizeInPixels(2070, 1260));

    m_applicationWindow = std::make_unique<ApplicationWindow>([this] { Unload(); });
    X11Window::removeTitle(this);

    m_screenSaver = makeScreenSaver();
    m_quietRules = std::make_unique<SettingsQuietRules>(m_config, *m_screenSaver);
    m_player = makeChimePlayer();
    m_sequencer = std::make_unique<ChimeSequencer>(m_config, *m_quietRules, *m_player, *this, m_timeSource);
    m_ticker = std::make_unique<SecondTicker>([this] {
        m_sequencer->tick();
        prepareSoundBeforeQuarter();
        // A window manager that takes our map request while it starts up may
        // sit on it until some other request reaches it; the next second
        // brings it one.
        if (isVisible() && !testAttribute(Qt::WA_Mapped))
            X11Window::ensureMapped(this);
    });
    m_visibilityRule = std::make_unique<VisibilityRule>(
        m_config, *this, [this] { return m_sequencer->EtatCarillon(); },
        [this] { return m_quietRules->EcranVeilleActif(); });
    X11Window::skipTaskbar(this);
    X11Window::keepAboveWithoutManager(this);
}

frmHorloge::~frmHorloge() = default;

QSize frmHorloge::sizeInPixels(double widthTwips, double heightTwips) const
{
    return QSize(ScreenMetrics::toPixelsX(widthTwips), ScreenMetrics::toPixelsY(heightTwips));
}

void frmHorloge::Load()
{
    const double tx = ScreenMetrics::twipsPerPixelX();
    const double ty = ScreenMetrics::twipsPerPixelY();
    const auto position = m_config.Position();
    m_storedPlace = {QPoint(int(std::lround(position->Left / tx)), int(std::lround(position->Top / ty))),
                     position->Left, position->Top};
    move(m_storedPlace.pixels);

    if (m_config.StartPos() == 1)
        m_config.setStartPos(0);

    MiseEnPageEnCours = true;
    if (const auto size = FaceLayout::startSize(m_config.Calendrier(), m_config.Taille()))
        resize(sizeInPixels(size->width, size->height));
    MiseEnPageEnCours = false;
    MettreEnPage();
    // A place left on a monitor that is gone comes back onto the nearest one.
    move(ScreenMetrics::placeOnMonitors(QRect(pos(), size()), ScreenMetrics::monitors()));

    lblDate->setVisible(m_config.Calendrier() == 1);
    const QDateTime now = m_sequencer->showTime();
    lblDate->setText(userLocale().toString(now.date(), QLocale::LongFormat));

    if (m_config.Visibilité() != 0)
        AppliquerVisibilite();
    else
        hide();

    showActivationCaption();

    QPalette background = palette();
    background.setColor(QPalette::Window, colourFromValue(m_config.BackColor(), QApplication::palette()));
    setPalette(background);
    const QColor foreground = colourFromValue(m_config.ForeColor(), QApplication::palette());
    for (QLabel *label : {lblHorloge, lblDate}) {
        QPalette p = label->palette();
        p.setColor(QPalette::WindowText, foreground);
        label->setPalette(p);
    }

    CouperDate();

    m_ticker->start();
}

void frmHorloge::showTime(const QString &text)
{
    qCDebug(lcTick).noquote() << "show" << text;
    lblHorloge->setText(text);
}

void frmHorloge::refreshDate(const QDate &today)
{
    lblDate->setText(userLocale().toString(today, QLocale::LongFormat));
    CouperDate();
}

void frmHorloge::Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;

    storePosition(m_dragEnd.value_or(pos()));
    m_sequencer->closePlayer();

    m_ticker->stop();
    hide();
    QApplication::quit();
}

void frmHorloge::storePosition(QPoint place)
{
    if (m_config.StartPos() == 2)
        return;
    // A coordinate still where the stored one put it keeps its stored twips:
    // pixels are coarser than twips, and the place must not drift.
    auto position = std::make_shared<::Position>();
    position->Left = place.x() == m_storedPlace.pixels.x()
                         ? m_storedPlace.left
                         : toStoredTwips(place.x(), ScreenMetrics::twipsPerPixelX());
    position->Top = place.y() == m_storedPlace.pixels.y()
                        ? m_storedPlace.top
                        : toStoredTwips(place.y(), ScreenMetrics::twipsPerPixelY());
    m_config.setPosition(position);
    m_config.SavePos();
    m_storedPlace = {place, position->Left, position->Top};
}

void frmHorloge::AfficherAide(const QString &text)
{
    lblHorloge->setToolTip(text);
    lblDate->setToolTip(text);
    lblForm->setToolTip(text);
    mnuContextuelInterrompre->setEnabled(text == ChimeHint::Playing);
}

void frmHorloge::AppliquerVisibilite()
{
    m_visibilityRule->AppliquerVisibilite();
}

bool frmHorloge::EstPremierPlan()
{
    return isVisible() && X11Window::isForeground(this);
}

void frmHorloge::showOnTop()
{
    if (!isVisible())
        X11Window::skipTaskbar(this);
    show();
    X11Window::ensureMapped(this);
    X11Window::raiseAboveOthers(this);
}

void frmHorloge::hideWindow()
{
    hide();
}

void frmHorloge::bringForward()
{
    if (isVisible()) {
        raise();
        activateWindow();
    }
}

void frmHorloge::MettreEnPage()
{
    if (MiseEnPageEnCours)
        return;
    MiseEnPageEnCours = true;

    const double tx = ScreenMetrics::twipsPerPixelX();
    const double ty = ScreenMetrics::twipsPerPixelY();
    const FaceLayout::Size current{width() * tx, height() * ty};
    const FaceLayout::Size previous{double(LargeurPrecedente), double(HauteurPrecedente)};
    if (const auto m = FaceLayout::snap(m_config.Calendrier(), current, previous)) {
        const QSize target = sizeInPixels(m->window.width, m->window.height);
        if (target != size()) {
            m_pendingSnap = target;
            m_pendingSnapAge.start();
            resize(target);
        }
        lblHorloge->setFont(faceFont("Liberation Serif", true, m->horlogePoints));
        lblHorloge->setGeometry(0, 0, width(), ScreenMetrics::toPixelsY(m->horlogeHeight));
        if (m->hasDate) {
            lblDate->setFont(faceFont("Liberation Sans", false, m->datePoints));
            lblDate->setGeometry(0, ScreenMetrics::toPixelsY(m->dateTop), width(),
                                 ScreenMetrics::toPixelsY(m->dateHeight));
        }
        m_config.setTaille(m->taille);
    }
    fitToWindow();
    MiseEnPageEnCours = false;
}

void frmHorloge::fitToWindow()
{
    lblHorloge->resize(width(), lblHorloge->height());
    lblForm->setGeometry(0, 0, width(), height());
    HauteurPrecedente = int16_t(std::lround(height() * ScreenMetrics::twipsPerPixelY()));
    LargeurPrecedente = int16_t(std::lround(width() * ScreenMetrics::twipsPerPixelX()));
}

void frmHorloge::CouperDate()
{
    const QFontMetricsF metrics(lblDate->font());
    lblDate->setText(FaceLayout::couperDate(
        lblDate->text(), [&metrics](const QString &text) { return metrics.horizontalAdvance(text); },
        width()));
}

void frmHorloge::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (MiseEnPageEnCours)
        return;
    // X11 resizes are asynchronous: the window manager answers our own snap
    // later, and may give another size than asked. That answer is adopted
    // rather than snapped again, which could go on for ever.
    if (m_pendingSnap && m_pendingSnapAge.elapsed() < 2000) {
        m_pendingSnap.reset();
        lblDate->resize(width(), lblDate->height());
        fitToWindow();
        return;
    }
    m_pendingSnap.reset();
    MettreEnPage();
}

void frmHorloge::closeEvent(QCloseEvent *event)
{
    event->accept();
    Unload();
}

void frmHorloge::showActivationCaption()
{
    mnuContextuelActivation->setText(m_config.Activer() != 0 ? QStringLiteral("Désactiver le carillon")
                                                             : QStringLiteral("Activer le carillon"));
}

void frmHorloge::openConfigurationProgram()
{
    basOuvrirDocHor::OuvrirDocument(programPath(QStringLiteral("TintarelPanel")), QStringLiteral("AffichHorloge"),
                                    m_messages);
}

void frmHorloge::doubleClickAction()
{
    if (m_sequencer->stopByUser())
        return;
    openConfigurationProgram();
    Unload();
}

void frmHorloge::configurer()
{
    openConfigurationProgram();
    Unload();
}

void frmHorloge::interrompre()
{
    m_sequencer->stopByUser();
}

void frmHorloge::basculerActivation()
{
    int value = 0;
    if (m_config.Activer() == 0)
        value = 1;
    else if (m_config.Activer() != 1)
        return;
    const bool written = m_config.setActiver(value);
    showActivationCaption();
    if (!written)
        m_messages.show(applicationTitle,
                        QStringLiteral("Le réglage n'a pas pu être enregistré dans %1.\n"
                                       "Les carillons sont %2 jusqu'à la fermeture de l'horloge.")
                            .arg(m_config.store().location(),
                                 value ? QStringLiteral("activés") : QStringLiteral("désactivés")),
                        MessageBox::Icon::Warning, MessageBox::Buttons::Ok);
}

void frmHorloge::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
    doubleClickAction();
}

bool frmHorloge::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonDblClick) {
        doubleClickAction();
        return true;
    }
    if (watched != lblForm)
        return QWidget::eventFilter(watched, event);

    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton) {
            // Where the face was taken, from the X server's own event: exact
            // even while an earlier move of the window is still on its way.
            m_grab = mouse->position();
            DepartGlisserX = float(m_grab.x() * ScreenMetrics::twipsPerPixelX());
            DepartGlisserY = float(m_grab.y() * ScreenMetrics::twipsPerPixelY());
            GlissementEnCours = true;
        }
        return true;
    }
    case QEvent::MouseMove: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        // The place follows the pointer's global position; adding up moves
        // relative to a window the server has not placed yet would drift.
        if (GlissementEnCours)
            move((mouse->globalPosition() - m_grab).toPoint());
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (GlissementEnCours && mouse->button() == Qt::LeftButton) {
            const QPoint place = (mouse->globalPosition() - m_grab).toPoint();
            X11Window::moveTo(this, place.x(), place.y());
            m_dragEnd = place;
            // Stored now, as the shut-down would, so that a lost X
            // connection, a crash or a power cut loses no dragged place.
            if (place != m_storedPlace.pixels)
                storePosition(place);
        }
        if (mouse->button() == Qt::RightButton)
            mnuContextuel->exec(mouse->globalPosition().toPoint());
        GlissementEnCours = false;
        return true;
    }
    default:
        return QWidget::eventFilter(watched, event);
    }
}

void frmHorloge::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    // Once the server reports the window at the drag's end, its place is
    // known again from Qt.
    if (m_dragEnd && pos() == *m_dragEnd && !GlissementEnCours)
        m_dragEnd.reset();
}

void frmHorloge::prepareSoundBeforeQuarter()
{
    // The sound back end takes a moment to load and stays in memory once
    // loaded: it is brought in during the ten seconds before the first
    // quarter the clock lives through, so that this quarter starts on time.
    if (m_soundPrepared)
        return;
    const QTime now = m_timeSource.now().time();
    if (now.minute() % 15 == 14 && now.second() >= 50) {
        m_soundPrepared = true;
        m_player->prepare();
    }
}
