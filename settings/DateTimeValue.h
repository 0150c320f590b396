#pragma once

#include <QDateTime>
#include <QString>
#include <QTime>
#include <optional>

// A date-time as one double: whole days since 30 December 1899 and the
// fraction of the day. A time of day has a zero date part, so two times of
// day compare as plain numbers.
namespace DateTimeValue {

constexpr double secondsPerDay = 86400.0;

double fromTime(const QTime &time);
double fromDateTime(const QDateTime &dateTime);
QTime toTime(double value);
// Whole seconds since midnight of the value's time of day.
int secondsOfDay(double value);
double timeOfDay(double value);

// The long time format: always 24-hour "HH:mm:ss".
QString formatLongTime(double value);
// Text form for the store: the time alone when there is no date part,
// else an ISO date followed by the time.
QString toStoreText(double value);

// Reads what a date-time parser takes for a time ("07:30:00", "7:30:00",
// "07:30", "7:30"), optionally after a date ("2004-09-20", "20/09/2004").
// Returns the full value; nothing when the text is no date-time.
std::optional<double> parse(const QString &text);

} // namespace DateTimeValue
