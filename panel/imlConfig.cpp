#include "imlConfig.h"

#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace imlConfig {

namespace {

// Draws one image in a 20 × 20 design box scaled to the requested rectangle.
void paintImage(QPainter &painter, const QString &key, const QRectF &rect, QIcon::Mode mode)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(rect.topLeft());
    painter.scale(rect.width() / imageSize, rect.height() / imageSize);
    const bool disabled = mode == QIcon::Disabled;
    if (key == QLatin1String("Play")) {
        QPainterPath triangle;
        triangle.moveTo(6, 3.5);
        triangle.lineTo(16.5, 10);
        triangle.lineTo(6, 16.5);
        triangle.closeSubpath();
        painter.setPen(QPen(disabled ? QColor(120, 120, 120) : QColor(20, 90, 30), 1.2, Qt::SolidLine,
                            Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(disabled ? QColor(170, 170, 170) : QColor(40, 160, 60));
        painter.drawPath(triangle);
    } else if (key == QLatin1String("Stop")) {
        painter.setPen(QPen(disabled ? QColor(120, 120, 120) : QColor(110, 20, 20), 1.2));
        painter.setBrush(disabled ? QColor(170, 170, 170) : QColor(190, 40, 40));
        painter.drawRoundedRect(QRectF(4.5, 4.5, 11, 11), 1.5, 1.5);
    } else if (key == QLatin1String("Point")) {
        // Four arrows out of the centre: the pointer over something that moves.
        QPainterPath arrows;
        const auto arrow = [&arrows](QPointF tip, QPointF back, QPointF side) {
            arrows.moveTo(tip);
            arrows.lineTo(back + side);
            arrows.lineTo(back - side);
            arrows.closeSubpath();
        };
        arrow({10, 1}, {10, 5.5}, {3, 0});
        arrow({10, 19}, {10, 14.5}, {3, 0});
        arrow({1, 10}, {5.5, 10}, {0, 3});
        arrow({19, 10}, {14.5, 10}, {0, 3});
        arrows.addRect(QRectF(9, 5, 2, 10));
        arrows.addRect(QRectF(5, 9, 10, 2));
        painter.setPen(QPen(Qt::white, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::black);
        painter.drawPath(arrows.simplified());
    }
    painter.restore();
}

class VectorIconEngine : public QIconEngine
{
public:
    explicit VectorIconEngine(QString key) : m_key(std::move(key)) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State) override
    {
        paintImage(*painter, m_key, rect, mode);
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize &size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        QPixmap result(size * scale);
        result.fill(Qt::transparent);
        result.setDevicePixelRatio(scale);
        QPainter painter(&result);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return result;
    }

    QIconEngine *clone() const override { return new VectorIconEngine(m_key); }
    QString key() const override { return QStringLiteral("tintarel-vector"); }

private:
    QString m_key;
};

} // namespace

QIcon image(const QString &key)
{
    if (key != QLatin1String("Play") && key != QLatin1String("Stop") && key != QLatin1String("Point"))
        return {};
    return QIcon(new VectorIconEngine(key));
}

QCursor pointer(qreal devicePixelRatio)
{
    const QPixmap pixmap = image(QStringLiteral("Point")).pixmap(QSize(imageSize, imageSize), devicePixelRatio);
    return QCursor(pixmap, imageSize / 2, imageSize / 2);
}

} // namespace imlConfig
