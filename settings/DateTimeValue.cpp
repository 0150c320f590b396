#include "DateTimeValue.h"

#include <QRegularExpression>
#include <cmath>

namespace DateTimeValue {

namespace {

const QDate epoch(1899, 12, 30);

double fromParts(const QDate &date, const QTime &time)
{
    const double days = date.isValid() ? double(epoch.daysTo(date)) : 0.0;
    const double fraction = time.msecsSinceStartOfDay() / (secondsPerDay * 1000.0);
    return days >= 0 ? days + fraction : days - fraction;
}

} // namespace

double fromTime(const QTime &time)
{
    return fromParts(QDate(), time);
}

double fromDateTime(const QDateTime &dateTime)
{
    return fromParts(dateTime.date(), dateTime.time());
}

double timeOfDay(double value)
{
    return std::fabs(value - std::trunc(value));
}

int secondsOfDay(double value)
{
    const int seconds = int(std::lround(timeOfDay(value) * secondsPerDay));
    return seconds % int(secondsPerDay);
}

QTime toTime(double value)
{
    return QTime(0, 0).addSecs(secondsOfDay(value));
}

QString formatLongTime(double value)
{
    return toTime(value).toString(QStringLiteral("HH:mm:ss"));
}

QString toStoreText(double value)
{
    const double days = std::trunc(value);
    if (days == 0.0)
        return formatLongTime(value);
    const QDate date = epoch.addDays(qint64(days));
    return date.toString(Qt::ISODate) + QLatin1Char(' ') + formatLongTime(value);
}

std::optional<double> parse(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral(
        "^\\s*(?:(?:(\\d{4})-(\\d{1,2})-(\\d{1,2})|(\\d{1,2})/(\\d{1,2})/(\\d{4}))(?:\\s+|T))?"
        "(\\d{1,2}):(\\d{2})(?::(\\d{2}))?\\s*$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return std::nullopt;

    QDate date;
    if (!match.captured(1).isEmpty())
        date = QDate(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt());
    else if (!match.captured(6).isEmpty())
        date = QDate(match.captured(6).toInt(), match.captured(5).toInt(), match.captured(4).toInt());
    const bool hasDate = !match.captured(1).isEmpty() || !match.captured(6).isEmpty();
    if (hasDate && !date.isValid())
        return std::nullopt;

    const int seconds = match.captured(9).isEmpty() ? 0 : match.captured(9).toInt();
    const QTime time(match.captured(7).toInt(), match.captured(8).toInt(), seconds);
    if (!time.isValid())
        return std::nullopt;
    return fromParts(date, time);
}

} // namespace DateTimeValue
