#include "frmConfig.h"

#include "CheckBox.h"
#include "ChimePlayer.h"
#include "ClockControl.h"
#include "ColourChooser.h"
#include "Configuration.h"
#include "DateTimeValue.h"
#include "DesktopPicture.h"
#include "DialogChoices.h"
#include "HelpWindow.h"
#include "imlConfig.h"
#include "MessageBox.h"
#include "MiniClock.h"
#include "PositionMapping.h"
#include "ScreenMetrics.h"
#include "ScreenPicture.h"
#include "SettingsStore.h"
#include "StartupLibrary.h"
#include "SystemColours.h"
#include "UpDown.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTimeEdit>
#include <QTimer>

#include <algorithm>
#include <cmath>

using namespace basPublics;

namespace {

const char *const helpTopicProperty = "helpTopic";
// The desktop's own colour, where no wallpaper shows.
constexpr uint32_t desktopColour = 0x80000001;

QFont faceFont()
{
    // Liberation Serif has the metrics of the face's Times New Roman.
    QFont font(QStringLiteral("Liberation Serif"));
    font.setBold(true);
    font.setPointSizeF(14.25);
    return font;
}

uint32_t colourValue(const QColor &colour)
{
    return uint32_t(colour.red()) | uint32_t(colour.green()) << 8 | uint32_t(colour.blue()) << 16;
}

void setLabelColours(QLabel *label, uint32_t fore, uint32_t back)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colourFromValue(fore, QApplication::palette()));
    palette.setColor(QPalette::Window, colourFromValue(back, QApplication::palette()));
    label->setPalette(palette);
    label->setAutoFillBackground(true);
}

// Draws the image stretched over `drawn`, reading from it only what falls
// inside the target, so that a drawn size far beyond the target costs
// nothing.
void drawCover(QImage &target, const QImage &image, const QRectF &drawn)
{
    const QRectF visible = drawn.intersected(QRectF(target.rect()));
    if (visible.isEmpty() || drawn.width() <= 0 || drawn.height() <= 0)
        return;
    const double sx = image.width() / drawn.width();
    const double sy = image.height() / drawn.height();
    const QRectF source((visible.x() - drawn.x()) * sx, (visible.y() - drawn.y()) * sy, visible.width() * sx,
                        visible.height() * sy);
    QPainter painter(&target);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(visible, image, source);
}

QString timeText()
{
    return DateTimeValue::formatLongTime(DateTimeValue::fromTime(QTime::currentTime()));
}

} // namespace

frmConfig::frmConfig(Services services, QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
    , mciHor(services.player)
    , dlgConfig(services.colours)
    , m_services(std::move(services))
    , m_audition(mciHor, m_services.folder, [this](const QString &key) { showImage(key); },
                 m_services.yield ? m_services.yield
                                  : std::function<void()>([] { QCoreApplication::processEvents(); }))
{
    if (!m_services.beep)
        m_services.beep = [] { QApplication::beep(); };

    setWindowTitle(QStringLiteral("Configuration de l'horloge à carillon"));
    // The captions were fitted to a narrower system font than Liberation
    // Sans, which is drawn slightly condensed to keep them whole.
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPointSizeF(8);
    font.setStretch(92);
    setFont(font);

    createControls();
    setFixedSize(ScreenMetrics::toPixelsX(7485), ScreenMetrics::toPixelsY(8010));
    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());

    mciHor.setCompletionHandler([this](int code) { mciHor_Done(code); });
    qApp->installEventFilter(this);
    m_focusConnection = connect(qApp, &QApplication::focusChanged, this, &frmConfig::focusMoved);
}

frmConfig::~frmConfig()
{
    // The controls are destroyed after this body, moving the focus as they go.
    disconnect(m_focusConnection);
    qApp->removeEventFilter(this);
    mciHor.setCompletionHandler(nullptr);
    setConfig(nullptr);
}

template <class Control>
Control *frmConfig::place(Control *control, int left, int top, int width, int height, int tab, int help)
{
    control->setGeometry(ScreenMetrics::toPixelsX(left), ScreenMetrics::toPixelsY(top),
                         ScreenMetrics::toPixelsX(width), ScreenMetrics::toPixelsY(height));
    if (help)
        control->setProperty(helpTopicProperty, help);
    if (tab >= 0)
        m_tabOrder.emplace_back(tab, control);
    return control;
}

void frmConfig::createControls()
{
    const auto frame = [this](const char *caption) {
        auto *box = new QGroupBox(QString::fromUtf8(caption), this);
        // Opaque, so that the desktop shows only between the frames.
        box->setAutoFillBackground(true);
        return box;
    };
    const auto check = [](const char *caption, QWidget *container) {
        return new CheckBox(QString::fromUtf8(caption), container);
    };
    const auto option = [](const char *caption, QWidget *container) {
        return new QRadioButton(QString::fromUtf8(caption), container);
    };
    const auto label = [](const char *caption, QWidget *container) {
        return new QLabel(QString::fromUtf8(caption), container);
    };
    const auto button = [](const char *caption, QWidget *container) {
        return new QPushButton(QString::fromUtf8(caption), container);
    };

    fraDémarrage = place(frame("Démarrage"), 120, 120, 4335, 855, 3);
    chkDémarrage = place(check("Démarrer l'horloge à chaque ouverture de session", fraDémarrage), 360, 360, 3615, 375, 13, 10);

    fraCarillons = place(frame("Carillons"), 120, 1080, 7215, 2055, 5);
    chkActiver = place(check("Activer les carillons", fraCarillons), 240, 360, 1695, 255, 14, 30);
    chkVeille = place(check("Pendant l'écran de veille", fraCarillons), 2280, 360, 2175, 255, 20, 40);
    chkPlage = place(check("Définir une plage de fonctionnement pour les carillons", fraCarillons), 360, 1080, 4095,
                     315, 21, 50);
    Label2 = place(label("Carillons entre ", fraCarillons), 480, 1440, 1095, 255, 9);
    dtpDeb = place(new QTimeEdit(fraCarillons), 1680, 1410, 1095, 315, 22, 52);
    Label3 = place(label("et", fraCarillons), 2880, 1440, 255, 255, 7);
    dtpFin = place(new QTimeEdit(fraCarillons), 3120, 1410, 1095, 315, 23, 54);
    for (QTimeEdit *picker : {dtpDeb, dtpFin})
        picker->setDisplayFormat(QStringLiteral("HH:mm"));
    const struct
    {
        const char *caption;
        int top, width, tab;
    } chimes[] = {{"Aucun", 360, 1095, 15},
                  {"Heures seulement", 615, 1695, 16},
                  {"Heures et demi-heures", 855, 2055, 17},
                  {"Tous", 1110, 1335, 18}};
    for (int i = 0; i < 4; ++i)
        optCarillon[i] = place(option(chimes[i].caption, fraCarillons), 5040, chimes[i].top, chimes[i].width, 255,
                               chimes[i].tab, 60);
    optCarillon[0]->setChecked(true);
    chkNbHeures = place(check("Enumération de l'heure", fraCarillons), 5040, 1440, 1935, 255, 19, 60);

    Frame3 = place(frame("Dateur"), 3960, 3240, 3375, 615, 2, 80);
    chkCalendrier = place(check("Afficher la date", Frame3), 600, 240, 1455, 255, 27, 80);

    fraVisibilité = place(frame("Visibilité"), 120, 3240, 3615, 1815, 4);
    optVisi[0] = place(option("Jamais", fraVisibilité), 240, 360, 1815, 255, 28, 70);
    optVisi[1] = place(option("Pendant les carillons", fraVisibilité), 240, 645, 1815, 255, 29, 70);
    optVisi[3] = place(option("Toujours sauf pendant l'écran de veille", fraVisibilité), 240, 915, 3135, 255, 46, 70);
    optVisi[2] = place(option("Toujours", fraVisibilité), 240, 1200, 1815, 255, 30, 70);

    Frame1 = place(frame("Couleurs"), 3960, 3960, 3375, 1095, 0);
    lblDemo = place(label("00:00", Frame1), 240, 360, 735, 360, 31);
    lblDemo->setFont(faceFont());
    lblDemo->setAlignment(Qt::AlignCenter);
    cmdFond[1] = place(button("Fond", Frame1), 1200, 360, 855, 255, 24, 160);
    cmdFond[0] = place(button("Police", Frame1), 1200, 720, 855, 255, 25, 160);
    cmdFond[2] = place(button("Défaut", Frame1), 2280, 360, 855, 255, 26, 170);

    fraAudit = place(frame("Audition des carillons"), 4680, 120, 2655, 855, 43);
    cboCar = place(new QComboBox(fraAudit), 240, 360, 1575, 315, 44);
    cboCar->addItems({QStringLiteral("Quatre heures"), QStringLiteral("Le quart"), QStringLiteral("La demie"),
                      QStringLiteral("Moins le quart")});
    cmdPlay = place(new QPushButton(fraAudit), 1920, 360, 315, 315, 45, 20);
    cmdPlay->setIconSize(QSize(imlConfig::imageSize, imlConfig::imageSize) * 3 / 4);
    showImage(QStringLiteral("Play"));

    fraPlace = place(frame("Emplacement de démarrage"), 120, 5160, 7215, 2175, 1);
    optPlace[0] = place(option("Dernier emplacement", fraPlace), 360, 360, 2055, 255, 32, 90);
    optPlace[1] = place(option("Définir l'emplacement du prochain démarrage", fraPlace), 360, 600, 3495, 255, 33, 100);
    optPlace[2] = place(option("Toujours démarrer à l'emplacement défini", fraPlace), 360, 840, 3495, 255, 34, 110);
    const struct
    {
        const char *direction;
        int left, directionWidth, textTab, spinLeft, spinTab, boundLeft, boundTab, directionTab, help;
    } fields[] = {{"Horizontal : ", 360, 855, 35, 976, 38, 1320, 10, 6, 120},
                  {"Vertical : ", 2520, 735, 39, 3135, 40, 3480, 11, 8, 130}};
    for (int i = 0; i < 2; ++i) {
        const auto &f = fields[i];
        lblPosDir[i] = place(label(f.direction, fraPlace), f.left, 1200, f.directionWidth, 255, f.directionTab);
        txtPos[i] = place(new QLineEdit(QStringLiteral("0"), fraPlace), f.left, 1440, 615, 285, f.textTab, f.help);
        txtPos[i]->setMaxLength(5);
        updPos[i] = place(new UpDown(txtPos[i], fraPlace), f.spinLeft, 1440, 240, 285, f.spinTab, f.help);
        updPos[i]->setIncrement(1);
        lblPos[i] = place(label("Label5", fraPlace), f.boundLeft, 1440, 855, 285, f.boundTab);
        connect(txtPos[i], &QLineEdit::textEdited, this, [this, i] { m_positionEdited[i] = true; });
        updPos[i]->onChange = [this, i] { updPos_Change(i); };
    }
    picScreen = place(new ScreenPicture(fraPlace), 4440, 360, 2048, 1536, 41, 140);
    picScreen->setFocusPolicy(Qt::StrongFocus);
    picHor = place(new MiniClock(picScreen), 240, 120, 200, 130, 42, 150);
    picHor->move(picHor->pos() + picScreen->drawingArea().topLeft());
    picHor->setFocusPolicy(Qt::StrongFocus);
    picHor->onPress = [this](QMouseEvent *event) { picHor_MouseDown(event); };
    picHor->onMove = [this](QMouseEvent *event) { dragMove(event); };
    picHor->onRelease = [this](QMouseEvent *event) { dragEnd(event); };

    cmdOk = place(button("OK", this), 120, 7560, 2295, 315, 36);
    cmdAnnuler = place(button("Annuler", this), 2520, 7560, 2295, 315, 37);
    lblHorloge = place(label("00:00:00", this), 5040, 7530, 2295, 375, 47);
    lblHorloge->setFont(faceFont());
    lblHorloge->setAlignment(Qt::AlignCenter);
    lblHorloge->setToolTip(QStringLiteral("Double-cliquez pour configurer"));
    lblHorloge->setAutoFillBackground(true);
    for (QLabel *caption : {Label2, Label3})
        caption->setAutoFillBackground(false);

    timSimul = new QTimer(this);
    timSimul->setInterval(1000);

    m_outline = new DragOutline(this);

    connect(chkActiver, &QCheckBox::clicked, this, [this] { chkActiver_Click(); });
    connect(chkPlage, &QCheckBox::clicked, this, [this] { chkPlage_Click(); });
    for (int i = 0; i < 4; ++i) {
        connect(optCarillon[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on)
                optCarillon_Click(i);
        });
        connect(optVisi[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on)
                optVisi_Click(i);
        });
    }
    for (int i = 0; i < 3; ++i) {
        connect(optPlace[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on)
                optPlace_Click(i);
        });
        connect(cmdFond[i], &QPushButton::clicked, this, [this, i] { cmdFond_Click(i); });
    }
    connect(cmdPlay, &QPushButton::clicked, this, [this] { cmdPlay_Click(); });
    connect(cmdOk, &QPushButton::clicked, this, [this] { cmdOk_Click(); });
    connect(cmdAnnuler, &QPushButton::clicked, this, [this] { cmdAnnuler_Click(); });
    connect(timSimul, &QTimer::timeout, this, [this] { timSimul_Timer(); });

    setTabOrder();
}

void frmConfig::setTabOrder()
{
    std::stable_sort(m_tabOrder.begin(), m_tabOrder.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    QWidget *previous = nullptr;
    for (const auto &[tab, control] : m_tabOrder) {
        if (control->focusPolicy() == Qt::NoFocus)
            continue;
        if (previous)
            QWidget::setTabOrder(previous, control);
        previous = control;
    }
}

int frmConfig::helpTopic(const QWidget *control)
{
    for (const QWidget *w = control; w; w = w->parentWidget()) {
        if (const int topic = w->property(helpTopicProperty).toInt())
            return topic;
        if (w->isWindow())
            break;
    }
    return 0;
}

// ---------------------------------------------------------------- captions

namespace {

// The width a caption needs in its control, and what it has.
int neededWidth(const QWidget *control, const QString &text, const QFont &font)
{
    const QFontMetrics metrics(font);
    const int textWidth = metrics.horizontalAdvance(text);
    const QStyle *style = control->style();
    const bool isCheck = qobject_cast<const QCheckBox *>(control);
    if (isCheck || qobject_cast<const QRadioButton *>(control)) {
        // As the box measures itself, in the font tried.
        QStyleOptionButton option;
        option.initFrom(control);
        option.fontMetrics = metrics;
        option.text = text;
        const QSize textSize = style->itemTextRect(metrics, QRect(), Qt::TextShowMnemonic, false, text).size();
        return style->sizeFromContents(isCheck ? QStyle::CT_CheckBox : QStyle::CT_RadioButton, &option, textSize,
                                       control).width();
    }
    if (qobject_cast<const QPushButton *>(control))
        return textWidth + style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, control)
               + 2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, control);
    if (qobject_cast<const QGroupBox *>(control))
        return textWidth + 16;
    if (const auto *label = qobject_cast<const QLabel *>(control))
        return textWidth + 2 * label->margin() + 2 * label->frameWidth();
    return 0;
}

QString captionOf(const QWidget *control)
{
    if (const auto *button = qobject_cast<const QAbstractButton *>(control))
        return button->text();
    if (const auto *box = qobject_cast<const QGroupBox *>(control))
        return box->title();
    if (const auto *label = qobject_cast<const QLabel *>(control))
        return label->text();
    return QString();
}

void setCaption(QWidget *control, const QString &text)
{
    if (auto *button = qobject_cast<QAbstractButton *>(control))
        button->setText(text);
    else if (auto *box = qobject_cast<QGroupBox *>(control))
        box->setTitle(text);
    else if (auto *label = qobject_cast<QLabel *>(control))
        label->setText(text);
}

} // namespace

void frmConfig::fitCaptions()
{
    // The layout keeps the design's boxes; a font wider than the one the
    // captions were fitted to (another sans where Liberation is missing)
    // is drawn smaller, down to a size still readable, then cut with "…".
    constexpr double smallestShare = 0.8;
    const QList<QWidget *> controls = findChildren<QWidget *>();
    for (QWidget *control : controls) {
        const QString caption = captionOf(control);
        if (caption.isEmpty() || caption.contains(QChar(0x2026)))
            continue;
        QFont font = control->font();
        const double designed = font.pointSizeF();
        while (neededWidth(control, caption, font) > control->width() && font.pointSizeF() > designed * smallestShare)
            font.setPointSizeF(std::max(designed * smallestShare, font.pointSizeF() - 0.25));
        if (font != control->font()) {
            // A frame's controls keep the font they had.
            for (QWidget *child : control->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
                child->setFont(child->font());
            control->setFont(font);
        }
        const int over = neededWidth(control, caption, font) - control->width();
        if (over <= 0)
            continue;
        const int room = QFontMetrics(font).horizontalAdvance(caption) - over;
        setCaption(control, QFontMetrics(font).elidedText(caption, Qt::ElideRight, room));
        if (control->toolTip().isEmpty())
            control->setToolTip(caption);
    }
}

// ---------------------------------------------------------------- load

bool frmConfig::FindProcess(const QString &exeName)
{
    Q_UNUSED(exeName);
    return m_services.clock.find();
}

void frmConfig::Load(const QString &arguments)
{
    m_loading = true;
    if (const auto error = loadSettings(arguments); !error || trap(*error)) {
        if (const auto error = loadMiniClock())
            trap(*error);
    }
    fitCaptions();
    setInitialFocus();
    m_loading = false;
    if (m_unloadAfterLoad)
        Unload();
}

// The selected chime pattern: the dialog's main choice, which the arrow keys
// change at once, and which neither Space nor Enter can change by mistake.
// With the chimes switched off it is greyed, and OK takes the focus.
void frmConfig::setInitialFocus()
{
    QWidget *first = cmdOk;
    for (QRadioButton *option : optCarillon)
        if (option->isChecked() && option->isEnabled())
            first = option;
    first->setFocus(Qt::OtherFocusReason);
}

// The load's one error trap: a missing wallpaper file is told and the load
// goes on with the mini clock; any other error ends the load.
bool frmConfig::trap(const RunError &error)
{
    if (error.number == errFileNotFound) {
        m_services.messages.show(applicationTitle, error.description, MessageBox::Icon::None, MessageBox::Buttons::Ok);
        return true;
    }
    m_services.messages.show(applicationTitle, errorPrefix + error.description, MessageBox::Icon::None,
                             MessageBox::Buttons::Ok);
    return false;
}

std::optional<frmConfig::RunError> frmConfig::setCheck(CheckBox *box, int value, const char *name)
{
    if (box->setValue(value))
        return std::nullopt;
    return RunError{errInvalidPropertyValue,
                    QStringLiteral("Valeur de propriété non valide : %1 pour « %2 »").arg(value).arg(QString::fromUtf8(name))};
}

template <size_t N>
std::optional<frmConfig::RunError> frmConfig::selectOption(const std::array<QRadioButton *, N> &group, int index,
                                                           const char *name)
{
    if (index < 0 || index >= int(N))
        return RunError{errNoSuchControl, QStringLiteral("L'élément %1 du groupe de contrôles « %2 » n'existe pas")
                                              .arg(index)
                                              .arg(QString::fromUtf8(name))};
    group[size_t(index)]->setChecked(true);
    return std::nullopt;
}

std::optional<frmConfig::RunError> frmConfig::loadSettings(const QString &arguments)
{
    const bool running = FindProcess(clockExeName);
    if (arguments == QLatin1String("AffichHorloge")) {
        RestartClock = true;
        m_services.clock.promiseRestart();
    } else if (running) {
        // Promised before the take-down: an ending during it must not leave
        // the clock down.
        m_services.clock.promiseRestart();
        m_services.clock.close();
        RestartClock = true;
    }

    SettingsError why;
    auto created = Configuration::create(m_services.store, &why, m_services.library);
    if (!created)
        return RunError{why.message.isEmpty() ? 13 : errCannotCreateObject, why.description()};
    setConfig(std::move(created));
    const Configuration &config = *Config();

    if (auto error = selectOption(optCarillon, config.Carillons(), "optCarillon"))
        return error;
    if (config.Carillons() == 0) {
        chkVeille->setEnabled(false);
        chkNbHeures->setEnabled(false);
    } else {
        if (auto error = setCheck(chkNbHeures, config.EnumHeures(), "chkNbHeures"))
            return error;
        if (auto error = setCheck(chkVeille, config.Veille(), "chkVeille"))
            return error;
    }
    if (auto error = setCheck(chkDémarrage, config.Démarrage(), "chkDémarrage"))
        return error;
    if (auto error = setCheck(chkCalendrier, config.Calendrier(), "chkCalendrier"))
        return error;
    VisibilityIndex = config.Visibilité();
    if (auto error = selectOption(optVisi, VisibilityIndex, "optVisi"))
        return error;
    cboCar->setCurrentIndex(0);
    if (auto error = setCheck(chkPlage, config.Plage(), "chkPlage"))
        return error;
    dtpDeb->setTime(DateTimeValue::toTime(config.DateDeb()));
    dtpFin->setTime(DateTimeValue::toTime(config.DateFin()));
    if (auto error = setCheck(chkActiver, config.Activer(), "chkActiver"))
        return error;
    chkActiver_Click();
    // The master switch enables every chime control, but with "Aucun"
    // stored the options that need chimes stay off, as the choice leaves them.
    if (config.Carillons() == 0) {
        chkVeille->setEnabled(false);
        chkNbHeures->setEnabled(false);
    }

    m_demoFore = config.ForeColor();
    m_demoBack = config.BackColor();
    applyDemoColours();
    setLabelColours(lblHorloge, config.ForeColor(), config.BackColor());

    const auto position = config.Position();
    const double tx = ScreenMetrics::twipsPerPixelX();
    const double ty = ScreenMetrics::twipsPerPixelY();
    const int boundX = int(std::nearbyint(screenWidthTwips() / tx));
    updPos[0]->setRange(0, boundX);
    lblPos[0]->setText(QStringLiteral("sur ") + QString::number(boundX));
    setPositionText(0, QString::number(std::floor(position->Left / tx), 'f', 0));
    const int boundY = int(std::nearbyint(screenHeightTwips() / ty));
    updPos[1]->setRange(0, boundY);
    lblPos[1]->setText(QStringLiteral("sur ") + QString::number(boundY));
    setPositionText(1, QString::number(std::floor(position->Top / ty), 'f', 0));

    if (auto error = selectOption(optPlace, config.StartPos(), "optPlace"))
        return error;
    optPlace_Click(config.StartPos());

    return DessinerBureau();
}

std::optional<frmConfig::RunError> frmConfig::loadMiniClock()
{
    if (const Configuration *config = Config()) {
        const auto position = config->Position();
        placeMiniClock(PositionMapping::twipsToPicture(position->Left, screenWidthTwips(), pictureWidth()),
                       PositionMapping::twipsToPicture(position->Top, screenHeightTwips(), pictureHeight()));
    }
    picHor->setCursor(imlConfig::pointer(devicePixelRatioF()));
    m_helpFile = m_services.folder + QStringLiteral("/Tintarel.hlp");
    return std::nullopt;
}

// ---------------------------------------------------------------- desktop picture

std::optional<frmConfig::RunError> frmConfig::DessinerBureau()
{
    QString why;
    StartupLibrary *library = m_services.library ? m_services.library : StartupLibrary::global(&why);
    if (!library)
        return RunError{errCannotCreateObject, why};
    const QString path = DesktopPicture::wallpaperPath(*library);
    if (path.isEmpty())
        return std::nullopt;

    const double tx = ScreenMetrics::twipsPerPixelX();
    const float SW = screenWidthTwips();
    const float SH = screenHeightTwips();
    const float height = float(picScreen->height() * ScreenMetrics::twipsPerPixelY());
    const float width = height / SH * SW;
    picScreen->resize(ScreenMetrics::toPixelsX(width), picScreen->height());
    const double reported = picScreen->width() * tx;
    picScreen->move(ScreenMetrics::toPixelsX(fraPlace->width() * tx - reported - 300), picScreen->y());

    RunError error;
    const auto natural = DesktopPicture::imageSize(path, &error);
    if (!natural)
        return error;
    const QRect area = picScreen->drawingArea();
    const QRectF drawn = DesktopPicture::coverRect(float(area.width()), float(area.height()), natural->width(),
                                                   natural->height(), SW, SH);
    const QSize screen(ScreenMetrics::screenWidthPixels(), ScreenMetrics::screenHeightPixels());
    const QRectF desktop = DesktopPicture::coverRect(float(screen.width()), float(screen.height()),
                                                     natural->width(), natural->height(), SW, SH);
    const auto image = DesktopPicture::readImage(path, desktop.size().expandedTo(drawn.size()), &error);
    if (!image)
        return error;

    QImage canvas(area.size(), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    drawCover(canvas, *image, drawn);
    picScreen->setCanvas(canvas);
    m_drawnPicture = drawn;

    m_desktop = QImage(screen, QImage::Format_RGB32);
    m_desktop.fill(colourFromValue(desktopColour, palette()));
    drawCover(m_desktop, *image, desktop);
    update();

    timSimul->start();
    return std::nullopt;
}

void frmConfig::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), colourFromValue(desktopColour, palette()));
    if (m_desktop.isNull())
        return;
    // The picture spans the whole virtual desktop, every monitor, from its origin.
    painter.drawImage(mapFromGlobal(QPoint(0, 0)), m_desktop);
}

void frmConfig::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    // The desktop is drawn where it lies on the screen, which moved.
    if (!m_desktop.isNull())
        update();
}

// ---------------------------------------------------------------- chime options, colours, audition

void frmConfig::chkActiver_Click()
{
    const bool enabled = chkActiver->value() != 0;
    for (QWidget *control : fraCarillons->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        if (control != chkActiver)
            control->setEnabled(enabled);
    chkPlage_Click();
}

void frmConfig::chkPlage_Click()
{
    switch (chkPlage->value()) {
    case 1:
        dtpDeb->setEnabled(true);
        dtpFin->setEnabled(true);
        break;
    case 0:
        dtpDeb->setEnabled(false);
        dtpFin->setEnabled(false);
        break;
    default:
        break;
    }
}

void frmConfig::optCarillon_Click(int index)
{
    if (index == 0) {
        chkNbHeures->setValue(0);
        chkNbHeures->setEnabled(false);
        chkVeille->setValue(0);
        chkVeille->setEnabled(false);
    } else {
        chkNbHeures->setEnabled(true);
        chkVeille->setEnabled(true);
    }
}

void frmConfig::optVisi_Click(int index)
{
    VisibilityIndex = index;
}

void frmConfig::cmdFond_Click(int index)
{
    if (index == 2) {
        m_demoBack = Configuration::defaultBackColor;
        m_demoFore = Configuration::defaultForeColor;
        applyDemoColours();
        return;
    }
    const auto chosen = dlgConfig.choose(this);
    if (!chosen)
        return;
    (index == 0 ? m_demoFore : m_demoBack) = colourValue(*chosen);
    applyDemoColours();
}

void frmConfig::applyDemoColours()
{
    setLabelColours(lblDemo, m_demoFore, m_demoBack);
}

void frmConfig::cmdPlay_Click()
{
    m_audition.cmdPlayClick(cboCar->currentIndex());
}

void frmConfig::mciHor_Done(int notifyCode)
{
    m_audition.completion(notifyCode);
}

void frmConfig::showImage(const QString &key)
{
    m_playImage = key;
    cmdPlay->setIcon(imlConfig::image(key));
}

void frmConfig::timSimul_Timer()
{
    lblHorloge->setText(timeText());
}

// ---------------------------------------------------------------- start-position editor

float frmConfig::screenWidthTwips() const
{
    return float(ScreenMetrics::screenWidthPixels() * ScreenMetrics::twipsPerPixelX());
}

float frmConfig::screenHeightTwips() const
{
    return float(ScreenMetrics::screenHeightPixels() * ScreenMetrics::twipsPerPixelY());
}

float frmConfig::pictureWidth() const
{
    return float(picScreen->drawingArea().width() * ScreenMetrics::twipsPerPixelX());
}

float frmConfig::pictureHeight() const
{
    return float(picScreen->drawingArea().height() * ScreenMetrics::twipsPerPixelY());
}

QPointF frmConfig::miniClockPlace() const
{
    const QPoint origin = picScreen->drawingArea().topLeft();
    return QPointF((picHor->x() - origin.x()) * ScreenMetrics::twipsPerPixelX(),
                   (picHor->y() - origin.y()) * ScreenMetrics::twipsPerPixelY());
}

void frmConfig::placeMiniClock(float left, float top)
{
    // A widget lies on whole pixels; far-off places are kept within reach of int.
    const auto pixels = [](float twips, double twipsPerPixel) {
        return int(std::clamp(std::nearbyint(twips / twipsPerPixel), -1.0e6, 1.0e6));
    };
    const QPoint origin = picScreen->drawingArea().topLeft();
    picHor->move(origin.x() + pixels(left, ScreenMetrics::twipsPerPixelX()),
                 origin.y() + pixels(top, ScreenMetrics::twipsPerPixelY()));
}

bool frmConfig::placeMiniClockFromFields()
{
    const auto x = PositionMapping::readNumber(txtPos[0]->text());
    const auto y = PositionMapping::readNumber(txtPos[1]->text());
    if (!x || !y)
        return false;
    placeMiniClock(PositionMapping::pixelsToPicture(float(*x), float(ScreenMetrics::twipsPerPixelX()),
                                                    screenWidthTwips(), pictureWidth()),
                   PositionMapping::pixelsToPicture(float(*y), float(ScreenMetrics::twipsPerPixelY()),
                                                    screenHeightTwips(), pictureHeight()));
    return true;
}

void frmConfig::setPositionText(int index, const QString &text)
{
    txtPos[size_t(index)]->setText(text);
    m_positionEdited[size_t(index)] = false;
}

void frmConfig::optPlace_Click(int index)
{
    StartPosIndex = index;
    if (index == 0) {
        if (const Configuration *config = Config()) {
            const auto position = config->Position();
            setPositionText(0, PositionMapping::pixelsText(position->Left, ScreenMetrics::twipsPerPixelX()));
            setPositionText(1, PositionMapping::pixelsText(position->Top, ScreenMetrics::twipsPerPixelY()));
            txtPos_Validate(0);
            txtPos_Validate(1);
        }
    }
    const bool enabled = index != 0;
    for (size_t i = 0; i < 2; ++i) {
        txtPos[i]->setEnabled(enabled);
        updPos[i]->setEnabled(enabled);
        lblPosDir[i]->setEnabled(enabled);
        lblPos[i]->setEnabled(enabled);
    }
    picHor->setEnabled(enabled);
}

bool frmConfig::txtPos_Validate(int index)
{
    QLineEdit *field = txtPos[size_t(index)];
    if (const auto v = PositionMapping::readNumber(field->text())) {
        setPositionText(index, PositionMapping::validatedText(*v, updPos[size_t(index)]->max()));
        if (placeMiniClockFromFields())
            return true;
    }
    // The message box and the focus put back must not validate the other
    // field in turn.
    const bool wasValidating = std::exchange(m_validating, true);
    m_services.messages.show(applicationTitle, QStringLiteral("Valeur de position non valide."),
                             MessageBox::Icon::None, MessageBox::Buttons::Ok);
    field->setFocus(Qt::OtherFocusReason);
    field->setSelection(0, int(field->text().size()));
    m_validating = wasValidating;
    return false;
}

void frmConfig::updPos_Change(int index)
{
    Q_UNUSED(index);
    m_positionEdited[size_t(index)] = false;
    // Without a number in the other field there is nowhere to place it.
    placeMiniClockFromFields();
}

bool frmConfig::acceptsPositionKey(const QKeyEvent *key) const
{
    static const QKeySequence::StandardKey editing[] = {QKeySequence::SelectAll, QKeySequence::Copy,
                                                        QKeySequence::Cut,       QKeySequence::Paste,
                                                        QKeySequence::Undo,      QKeySequence::Redo};
    for (const auto sequence : editing)
        if (key->matches(sequence))
            return true;
    switch (key->key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return true;
    default:
        break;
    }
    const QString text = key->text();
    // Keys that type nothing (arrows, Home, End, F1…) are not typed characters.
    if (text.isEmpty())
        return true;
    return text.size() == 1 && text.at(0) >= QLatin1Char('0') && text.at(0) <= QLatin1Char('9');
}

void frmConfig::focusMoved(QWidget *old, QWidget *now)
{
    // Annuler cancels whatever the fields hold: moving to it validates nothing.
    if (m_validating || m_unloaded || !now || now->window() != this || now == cmdAnnuler)
        return;
    for (int i = 0; i < 2; ++i) {
        if (old != txtPos[size_t(i)] || now == old)
            continue;
        if (!txtPos_Validate(i)) {
            // The press that moved the focus comes next, in this same turn
            // of the event loop; it is dropped.
            m_swallowPress = true;
            QTimer::singleShot(0, this, [this] { m_swallowPress = false; });
        }
        return;
    }
}

void frmConfig::picHor_MouseDown(QMouseEvent *event)
{
    const QPointF at = event->position();
    GrabX = int16_t(std::nearbyint(at.x() * ScreenMetrics::twipsPerPixelX()));
    GrabY = int16_t(std::nearbyint(at.y() * ScreenMetrics::twipsPerPixelY()));
    m_dragging = true;
    m_outline->setGeometry(QRect(mapFromGlobal(picHor->mapToGlobal(QPoint(0, 0))), picHor->size()));
    m_outline->raise();
    m_outline->show();
}

QWidget *frmConfig::dragOutline() const
{
    return m_outline;
}

QWidget *frmConfig::surfaceAt(QPointF global) const
{
    const QPoint local = mapFromGlobal(global).toPoint();
    if (!rect().contains(local))
        return nullptr;
    QWidget *control = childAt(local);
    return control ? control : const_cast<frmConfig *>(this);
}

void frmConfig::dragMove(QMouseEvent *event)
{
    if (!m_dragging)
        return;
    const QPointF global = event->globalPosition();
    const QPoint grab(int(std::lround(GrabX / ScreenMetrics::twipsPerPixelX())),
                      int(std::lround(GrabY / ScreenMetrics::twipsPerPixelY())));
    m_outline->move(mapFromGlobal(global).toPoint() - grab);
    QWidget *over = surfaceAt(global);
    // Over the dialog's own surface or the frame's the drag ends at once,
    // and the drop there changes nothing.
    if (over == this || over == fraPlace) {
        m_dragging = false;
        m_outline->hide();
    }
}

void frmConfig::dragEnd(QMouseEvent *event)
{
    if (!m_dragging)
        return;
    m_dragging = false;
    m_outline->hide();
    const QPointF global = event->globalPosition();
    if (surfaceAt(global) == picScreen)
        picScreen_DragDrop(picScreen->mapFromGlobal(global) - QPointF(picScreen->drawingArea().topLeft()));
}

void frmConfig::picScreen_DragDrop(QPointF point)
{
    const double tx = ScreenMetrics::twipsPerPixelX();
    const double ty = ScreenMetrics::twipsPerPixelY();
    placeMiniClock(float(point.x() * tx - GrabX), float(point.y() * ty - GrabY));
    const QPointF place = miniClockPlace();
    setPositionText(0, QString::number(PositionMapping::pictureToPixels(float(place.x()), pictureWidth(),
                                                                         screenWidthTwips(), float(tx))));
    setPositionText(1, QString::number(PositionMapping::pictureToPixels(float(place.y()), pictureHeight(),
                                                                         screenHeightTwips(), float(ty))));
}

// ---------------------------------------------------------------- help

HelpWindow *frmConfig::helpWindow() const
{
    return m_helpWindow;
}

void frmConfig::showHelp(QWidget *control)
{
    // A load that stopped early has set no help file, and F1 does nothing.
    if (m_helpFile.isEmpty())
        return;
    if (!m_helpWindow) {
        m_helpWindow = new HelpWindow(this);
        placeHelpWindow();
    }
    if (!m_helpWindow->showTopic(m_helpFile, helpTopic(control)))
        m_services.messages.show(applicationTitle,
                                 QStringLiteral("Le fichier d'aide %1 est introuvable.").arg(m_helpFile),
                                 MessageBox::Icon::None, MessageBox::Buttons::Ok);
}

// Beside the dialog, on its screen, on the side with more room, narrowed to
// that room down to a readable width; only a screen too narrow for that
// puts it over the dialog.
void frmConfig::placeHelpWindow()
{
    QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    constexpr int narrowest = 280;
    const QRect area = screen->availableGeometry();
    const QRect dialog = frameGeometry();
    // The help window gets a frame like the dialog's (none before it shows).
    const int frameWidth = dialog.width() - width();
    const int frameHeight = dialog.height() - height();
    const int roomRight = area.right() - dialog.right();
    const int roomLeft = dialog.left() - area.left();
    const int room = std::max(roomRight, roomLeft) - frameWidth;
    const int width = std::max(std::min(m_helpWindow->width(), room), narrowest);
    const int height = std::min(m_helpWindow->height(), area.height() - frameHeight);
    m_helpWindow->resize(width, height);
    const int outerWidth = width + frameWidth;
    int left = roomRight >= roomLeft ? dialog.right() + 1 : dialog.left() - outerWidth;
    left = std::clamp(left, area.left(), std::max(area.left(), area.right() - outerWidth + 1));
    const int top = std::clamp(dialog.top(), area.top(), std::max(area.top(), area.bottom() - height - frameHeight + 1));
    m_helpWindow->move(left, top);
}

bool frmConfig::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick)
        return QWidget::eventFilter(watched, event);
    if (!watched->isWidgetType() || static_cast<QWidget *>(watched)->window() != this)
        return QWidget::eventFilter(watched, event);

    if (type != QEvent::KeyPress) {
        if (m_swallowPress) {
            m_swallowPress = false;
            return true;
        }
        return QWidget::eventFilter(watched, event);
    }
    auto *key = static_cast<QKeyEvent *>(event);
    // Enter is OK and Escape Annuler from every control and under every
    // platform style (some make Enter toggle the focused check box); a
    // focused push button takes Enter itself, as in every dialog.
    const bool enter = (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
                       && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (enter || key->key() == Qt::Key_Escape) {
        if (!m_unloaded && !key->isAutoRepeat()) {
            auto *button = qobject_cast<QPushButton *>(QApplication::focusWidget());
            if (key->key() == Qt::Key_Escape)
                cmdAnnuler_Click();
            else if (button && button->window() == this && button->isEnabled())
                button->click();
            else
                cmdOk_Click();
        }
        return true;
    }
    if (key->key() == Qt::Key_F1) {
        showHelp(QApplication::focusWidget() ? QApplication::focusWidget() : static_cast<QWidget *>(watched));
        return true;
    }
    for (QLineEdit *field : txtPos) {
        if (watched == field && !acceptsPositionKey(key)) {
            m_services.beep();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------- OK, Annuler, unload

void frmConfig::cmdOk_Click()
{
    Configuration *config = Config();
    if (!config) {
        m_services.messages.show(applicationTitle,
                                 QStringLiteral("Les réglages n'ont pas pu être lus : rien n'est enregistré."),
                                 MessageBox::Icon::None, MessageBox::Buttons::Ok);
        close();
        return;
    }

    int chime = 0;
    for (int i = 0; i < 4; ++i)
        if (optCarillon[size_t(i)]->isChecked())
            chime = i;

    if (StartPosIndex == 1 || StartPosIndex == 2)
        for (int i = 0; i < 2; ++i)
            if (m_positionEdited[size_t(i)] && !txtPos_Validate(i))
                return;

    if (DialogRules::needsNeverAudibleGuard(chime, VisibilityIndex)
        && m_services.messages.show(questionTitle, DialogRules::neverAudibleNeverVisibleText(),
                                    MessageBox::Icon::None, MessageBox::Buttons::YesNo)
            != MessageBox::Answer::Yes)
        return;

    std::optional<Position> position;
    if (StartPosIndex == 1 || StartPosIndex == 2) {
        QString message;
        position = DialogRules::positionInTwips(txtPos[0]->text(), txtPos[1]->text(),
                                                ScreenMetrics::twipsPerPixelX(), ScreenMetrics::twipsPerPixelY(),
                                                &message);
        if (!position) {
            m_services.messages.show(applicationTitle, message, MessageBox::Icon::None, MessageBox::Buttons::Ok);
            return;
        }
    }

    const auto timeOfDay = [](const QTime &time) {
        return DateTimeValue::fromTime(QTime(time.hour(), time.minute(), time.second()));
    };
    DialogChoices choices;
    choices.Carillons = chime;
    choices.Visibilité = VisibilityIndex;
    choices.Démarrage = chkDémarrage->value();
    choices.EnumHeures = chkNbHeures->value();
    choices.Veille = chkVeille->value();
    choices.Calendrier = chkCalendrier->value();
    choices.Plage = chkPlage->value();
    choices.DateDeb = timeOfDay(dtpDeb->time());
    choices.DateFin = timeOfDay(dtpFin->time());
    choices.Activer = chkActiver->value();
    choices.ForeColor = m_demoFore;
    choices.BackColor = m_demoBack;
    choices.StartPos = StartPosIndex;
    choices.horizontal = txtPos[0]->text();
    choices.vertical = txtPos[1]->text();

    QString failed;
    if (!DialogRules::storeChoices(*config, choices, position, &failed)) {
        m_services.messages.show(applicationTitle,
                                 QStringLiteral("Le réglage « %1 » n'a pas pu être enregistré dans %2.")
                                     .arg(failed, config->store().location()),
                                 MessageBox::Icon::None, MessageBox::Buttons::Ok);
        return;
    }
    close();
}

void frmConfig::cmdAnnuler_Click()
{
    close();
}

void frmConfig::closeEvent(QCloseEvent *event)
{
    QueryUnload();
    event->accept();
}

void frmConfig::Unload()
{
    if (m_loading) {
        // A message box of the load is answered by the ending; the load
        // goes on to its end, and the unload follows.
        m_unloadAfterLoad = true;
        if (QWidget *box = QApplication::activeModalWidget())
            box->close();
        return;
    }
    QueryUnload(false);
    hide();
    QCoreApplication::exit(0);
}

void frmConfig::bringForward()
{
    if (isMinimized())
        showNormal();
    QWidget *front = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : this;
    front->raise();
    front->activateWindow();
}

void frmConfig::QueryUnload(bool mayAsk)
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    m_audition.unload();
    timSimul->stop();
    if (m_helpWindow)
        m_helpWindow->close();

    if (RestartClock) {
        startClock();
        return;
    }
    const Configuration *config = Config();
    if (!mayAsk || !config || (config->Carillons() == 0 && config->Visibilité() == 0))
        return;
    if (m_services.messages.show(questionTitle, QStringLiteral("Voulez-vous démarrer l'horloge à carillon ? "),
                                 MessageBox::Icon::None, MessageBox::Buttons::YesNo)
        == MessageBox::Answer::Yes)
        startClock();
}

void frmConfig::startClock()
{
    QString why;
    if (!m_services.clock.start(&why))
        m_services.messages.show(applicationTitle,
                                 QStringLiteral("L'horloge à carillon n'a pas pu être démarrée : %1").arg(why),
                                 MessageBox::Icon::None, MessageBox::Buttons::Ok);
}
