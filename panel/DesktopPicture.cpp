#include "DesktopPicture.h"

#include "StartupLibrary.h"

#include <QFileInfo>
#include <QImageReader>

#include <cmath>

namespace DesktopPicture {

bool isPresent(const QString &value)
{
    return !value.isEmpty() && value.size() >= 4;
}

QString wallpaperPath(StartupLibrary &library)
{
    static const struct
    {
        const char *key;
        const char *value;
    } places[] = {
        {"USER\\Control Panel\\Desktop", "Wallpaper"},
        {"Software\\Microsoft\\Internet Explorer\\Desktop\\General", "Wallpaper"},
        {"Control Panel\\Desktop", "Wallpaper"},
        {"Control Panel\\Desktop", "ConvertedWallpaper"},
    };
    for (const auto &place : places) {
        const QString path = library.CléLectureValeur(ostrevol::HKey::HKEY_CURRENT_USER,
                                                      QString::fromUtf8(place.key),
                                                      QString::fromUtf8(place.value), false);
        if (isPresent(path))
            return path;
    }
    return {};
}

QRectF coverRect(float W, float H, int pw, int ph, float SW, float SH)
{
    const float rs = SW / SH;
    const float rp = float(double(pw) / double(ph));
    if (rp > rs) {
        const float width = float((double(H) / ph) * pw);
        return QRectF(-(width - W) / 2, 0, width, H);
    }
    const float height = float((double(W) / pw) * ph);
    return QRectF(0, -(height - H) / 2, W, height);
}

namespace {

basPublics::RunError notFound(const QString &path)
{
    return {basPublics::errFileNotFound, QStringLiteral("Fichier introuvable : %1").arg(path)};
}

basPublics::RunError invalidPicture(const QString &path, const QString &why)
{
    return {basPublics::errInvalidPicture, QStringLiteral("Image non valide : %1 (%2)").arg(path, why)};
}

} // namespace

std::optional<QSize> imageSize(const QString &path, basPublics::RunError *error)
{
    if (!QFileInfo(path).isFile()) {
        if (error)
            *error = notFound(path);
        return std::nullopt;
    }
    QImageReader reader(path);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty()) {
        if (error)
            *error = invalidPicture(path, reader.errorString());
        return std::nullopt;
    }
    return size;
}

std::optional<QImage> readImage(const QString &path, QSizeF drawn, basPublics::RunError *error)
{
    if (!QFileInfo(path).isFile()) {
        if (error)
            *error = notFound(path);
        return std::nullopt;
    }
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize natural = reader.size();
    const QSize wanted(int(std::ceil(drawn.width())), int(std::ceil(drawn.height())));
    // Decoders that can scale while they read (JPEG) then never hold the
    // full image; the others are held to Qt's allocation limit.
    if (natural.isValid() && wanted.width() > 0 && wanted.height() > 0 && wanted.width() < natural.width()
        && wanted.height() < natural.height() && reader.supportsOption(QImageIOHandler::ScaledSize))
        reader.setScaledSize(wanted);
    QImage image = reader.read();
    if (image.isNull()) {
        if (error)
            *error = invalidPicture(path, reader.errorString());
        return std::nullopt;
    }
    return image;
}

} // namespace DesktopPicture
