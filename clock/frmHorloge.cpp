#include "frmHorloge.h"

#include "ChimePlayer.h"
#include "Configuration.h"
#include "DateTimeValue.h"
#include "FaceLayout.h"
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
#include <QMenu>

#include <cmath>
#include <limits>

using namespace basPublics;

namespace {

QLocale userLocale()
{
    // The face speaks French when the environment names no language.
    const QLocale system = QLocale::system();
    if (system.language() == QLocale::C)
        return QLocale(QLocale::French, QLocale::France);
    return system;
}

// A window coordinate in twips as the store holds it; 0 when it does not
// fit in 16 bits.
int16_t toStoredTwips(int pixels, double twipsPerPixel)
{
    const double twips = std::nearbyint(pixels * twipsPerPixel);
    if (twips < std::numeric_limits<int16_t>::min() || twips > std::numeric_limits<int16_t>::max())
        return 0;
    return int16_t(twips);
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

frmHorloge::frmHorloge(Configuration &config, QWidget *parent)
    : QWidget(parent, Qt::FramelessWindowHint | Qt::Tool | Qt::WindowStaysOnTopHint)
    , m_config(config)
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
    connect(mnuContextuelQuitter, &QAction::triggered, this, [this] { Unload(); });

    // A size of its own between the four face sizes, as designed.
    resize(sizeInPixels(2070, 1260));

    m_applicationWindow = std::make_unique<ApplicationWindow>([this] { Unload(); });
    X11Window::removeTitle(this);

    m_screenSaver = makeScreenSaver();
    m_quietRules = std::make_unique<SettingsQuietRules>(m_config, *m_screenSaver);
    m_player = makeChimePlayer();
    m_sequencer = std::make_unique<ChimeSequencer>(m_config, *m_quietRules, *m_player, *this, m_timeSource);
    m_ticker = std::make_unique<SecondTicker>([this] { m_sequencer->tick(); });
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
    move(int(std::lround(position->Left / tx)), int(std::lround(position->Top / ty)));

    if (m_config.StartPos() == 1)
        m_config.setStartPos(0);

    MiseEnPageEnCours = true;
    if (const auto size = FaceLayout::startSize(m_config.Calendrier(), m_config.Taille()))
        resize(sizeInPixels(size->width, size->height));
    MiseEnPageEnCours = false;
    MettreEnPage();

    lblDate->setVisible(m_config.Calendrier() == 1);
    const QDateTime now = m_timeSource.now();
    showTime(DateTimeValue::formatLongTime(DateTimeValue::fromTime(now.time())));
    lblDate->setText(userLocale().toString(now.date(), QLocale::LongFormat));

    if (m_config.Visibilité() != 0)
        AppliquerVisibilite();
    else
        hide();

    mnuContextuelActivation->setText(m_config.Activer() != 0 ? QStringLiteral("Désactiver le carillon")
                                                             : QStringLiteral("Activer le carillon"));

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

    if (m_config.StartPos() != 2) {
        auto position = std::make_shared<::Position>();
        position->Top = toStoredTwips(y(), ScreenMetrics::twipsPerPixelY());
        position->Left = toStoredTwips(x(), ScreenMetrics::twipsPerPixelX());
        m_config.setPosition(position);
        m_config.SavePos();
    }
    m_sequencer->closePlayer();

    m_ticker->stop();
    hide();
    QApplication::quit();
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
    switch (m_config.Visibilité()) {
    case 0:
    case 1:
        hide();
        break;
    case 2:
    case 3:
        show();
        break;
    default:
        break;
    }
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
    lblHorloge->resize(width(), lblHorloge->height());
    lblForm->setGeometry(0, 0, width(), height());

    HauteurPrecedente = int16_t(std::lround(height() * ty));
    LargeurPrecedente = int16_t(std::lround(width() * tx));
    MiseEnPageEnCours = false;
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
        lblForm->setGeometry(0, 0, width(), height());
        lblHorloge->resize(width(), lblHorloge->height());
        lblDate->resize(width(), lblDate->height());
        HauteurPrecedente = int16_t(std::lround(height() * ScreenMetrics::twipsPerPixelY()));
        LargeurPrecedente = int16_t(std::lround(width() * ScreenMetrics::twipsPerPixelX()));
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
