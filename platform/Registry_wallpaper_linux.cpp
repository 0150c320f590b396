// GLib's headers name struct members "signals", which Qt defines as a macro:
// they come first.
#ifdef TINTAREL_REGISTRY_READS_GSETTINGS
#include <gio/gio.h>
#endif

#include "Registry_wallpaper.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>
#include <QXmlStreamReader>

#include <memory>
#include <optional>

#include <sys/stat.h>

namespace reg {
namespace {

QString environment(const char *name)
{
    return QString::fromLocal8Bit(qgetenv(name));
}

QString configHome()
{
    const QString home = environment("XDG_CONFIG_HOME");
    return home.startsWith(QLatin1Char('/')) ? home : QDir::homePath() + QStringLiteral("/.config");
}

QStringList configDirs()
{
    QStringList dirs;
    for (const QString &dir : environment("XDG_CONFIG_DIRS").split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (dir.startsWith(QLatin1Char('/')))
            dirs << dir;
    }
    return dirs.isEmpty() ? QStringList{QStringLiteral("/etc/xdg")} : dirs;
}

// A file:// URI or an absolute path as a local path; anything else is not a
// local file.
QString localPath(const QString &location)
{
    if (location.startsWith(QLatin1Char('/')))
        return location;
    const QUrl url(location);
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

// A GNOME slideshow's first still image, or its first transition's start
// when it has no still one.
QString slideshowFirstImage(const QString &path)
{
    // Only a regular file of a sensible size: a FIFO would block the opening.
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0 || !S_ISREG(status.st_mode)
        || status.st_size > 1024 * 1024)
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QXmlStreamReader xml(&file);
    QString inside;
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        const QString name = xml.name().toString();
        if (token == QXmlStreamReader::EndElement && name == inside)
            inside.clear();
        if (token != QXmlStreamReader::StartElement)
            continue;
        if (name == QLatin1String("static") || name == QLatin1String("transition"))
            inside = name;
        else if (inside == QLatin1String("transition") && name == QLatin1String("from"))
            return xml.readElementText().trimmed();
        else if (inside == QLatin1String("static") && name == QLatin1String("file")) {
            // A path, or several <size> variants of which the first is taken.
            QString text;
            while (!xml.atEnd()) {
                const auto inner = xml.readNext();
                if (inner == QXmlStreamReader::Characters)
                    text += xml.text();
                else if (inner == QXmlStreamReader::StartElement)
                    return xml.readElementText().trimmed();
                else if (inner == QXmlStreamReader::EndElement)
                    break;
            }
            if (!text.trimmed().isEmpty())
                return text.trimmed();
        }
    }
    return {};
}

QString resolveImage(const QString &location)
{
    const QString path = localPath(location);
    if (path.endsWith(QLatin1String(".xml"), Qt::CaseInsensitive))
        return slideshowFirstImage(path);
    return path;
}

#ifdef TINTAREL_REGISTRY_READS_GSETTINGS
struct GObjectUnref
{
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct SchemaUnref
{
    void operator()(GSettingsSchema *schema) const { g_settings_schema_unref(schema); }
};
struct VariantUnref
{
    void operator()(GVariant *value) const { g_variant_unref(value); }
};

// One string setting through GSettings, which reads dconf's database file in
// this process. A schema or key that is not installed gives nothing: asking
// GSettings for it would abort the program.
std::optional<QString> gsettingsString(const char *schemaId, const char *key)
{
    GSettingsSchemaSource *source = g_settings_schema_source_get_default();
    if (!source)
        return std::nullopt;
    std::unique_ptr<GSettingsSchema, SchemaUnref> schema(g_settings_schema_source_lookup(source, schemaId, TRUE));
    if (!schema || !g_settings_schema_has_key(schema.get(), key))
        return std::nullopt;
    std::unique_ptr<GSettings, GObjectUnref> settings(g_settings_new_full(schema.get(), nullptr, nullptr));
    std::unique_ptr<GVariant, VariantUnref> value(g_settings_get_value(settings.get(), key));
    if (!value || !g_variant_is_of_type(value.get(), G_VARIANT_TYPE_STRING))
        return std::nullopt;
    return QString::fromUtf8(g_variant_get_string(value.get(), nullptr));
}
#else
std::optional<QString> gsettingsString(const char *, const char *)
{
    return std::nullopt;
}
#endif

QString gnomeWallpaper(const char *schema)
{
    QString uri;
    if (gsettingsString("org.gnome.desktop.interface", "color-scheme") == QStringLiteral("prefer-dark"))
        uri = gsettingsString(schema, "picture-uri-dark").value_or(QString());
    if (uri.isEmpty())
        uri = gsettingsString(schema, "picture-uri").value_or(QString());
    return resolveImage(uri);
}

QString mateWallpaper()
{
    return resolveImage(gsettingsString("org.mate.background", "picture-filename").value_or(QString()));
}

// KConfig escapes backslashes and leading spaces in values.
QString unescapeKConfig(const QString &value)
{
    QString out;
    for (int i = 0; i < value.size(); ++i) {
        if (value[i] != QLatin1Char('\\') || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const QChar next = value[++i];
        out += next == QLatin1Char('s') ? QChar(' ')
             : next == QLatin1Char('t') ? QChar('\t')
             : next == QLatin1Char('n') ? QChar('\n')
                                        : next;
    }
    return out;
}

// A Plasma wallpaper package: its largest image, judged by the WxH file names.
QString packageImage(const QString &folder)
{
    const QDir images(QDir::cleanPath(folder + QStringLiteral("/contents/images")));
    const QStringList files = images.entryList(QDir::Files, QDir::Name);
    static const QRegularExpression size(QStringLiteral("^(\\d+)x(\\d+)\\."));
    QString best;
    qint64 bestArea = -1;
    for (const QString &file : files) {
        const auto match = size.match(file);
        const qint64 area = match.hasMatch() ? match.captured(1).toLongLong() * match.captured(2).toLongLong() : 0;
        if (area > bestArea) {
            best = images.filePath(file);
            bestArea = area;
        }
    }
    return best;
}

QString plasmaWallpaper()
{
    QFile file(configHome() + QStringLiteral("/plasma-org.kde.plasma.desktop-appletsrc"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    bool inImageGroup = false;
    QString image;
    while (!file.atEnd() && image.isEmpty()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('[')))
            inImageGroup = line.endsWith(QLatin1String("[Wallpaper][org.kde.image][General]"));
        else if (inImageGroup && line.startsWith(QLatin1String("Image=")))
            image = unescapeKConfig(line.mid(6));
    }
    if (image.isEmpty())
        return {};
    QString path = localPath(image);
    if (path.isEmpty() && !image.contains(QLatin1Char(':')))
        path = QStandardPaths::locate(QStandardPaths::GenericDataLocation, QStringLiteral("wallpapers/") + image,
                                      QStandardPaths::LocateDirectory);
    return QFileInfo(path).isDir() ? packageImage(path) : path;
}

// The first workspace image of the first monitor that has one; the user's
// channel file first, then the system's defaults.
QString xfceWallpaper()
{
    const QString channel = QStringLiteral("/xfce4/xfconf/xfce-perchannel-xml/xfce4-desktop.xml");
    QStringList files{configHome() + channel};
    for (const QString &dir : configDirs())
        files << dir + channel;
    for (const QString &path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        QXmlStreamReader xml(&file);
        QString older;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != QLatin1String("property"))
                continue;
            const auto attributes = xml.attributes();
            const QString name = attributes.value(QLatin1String("name")).toString();
            const QString value = attributes.value(QLatin1String("value")).toString();
            if (name == QLatin1String("last-image") && !value.isEmpty())
                return resolveImage(value);
            if (name == QLatin1String("image-path") && older.isEmpty())
                older = value;
        }
        if (!older.isEmpty())
            return resolveImage(older);
    }
    return {};
}

} // namespace

QString currentWallpaperPath()
{
    QString declared = environment("XDG_CURRENT_DESKTOP");
    if (declared.isEmpty())
        declared = environment("DESKTOP_SESSION");
    // No desktop at all (a bare X server): no wallpaper either.
    if (declared.isEmpty())
        return {};
    for (const QString &desktop : declared.toLower().split(QLatin1Char(':'))) {
        if (desktop == QLatin1String("kde") || desktop == QLatin1String("plasma"))
            return plasmaWallpaper();
        if (desktop == QLatin1String("xfce"))
            return xfceWallpaper();
        if (desktop == QLatin1String("x-cinnamon") || desktop == QLatin1String("cinnamon"))
            return gnomeWallpaper("org.cinnamon.desktop.background");
        if (desktop == QLatin1String("mate"))
            return mateWallpaper();
    }
    // GNOME and its relatives (Unity, Budgie, Pantheon, GNOME Flashback),
    // which keep the GNOME desktop's settings.
    return gnomeWallpaper("org.gnome.desktop.background");
}

} // namespace reg
