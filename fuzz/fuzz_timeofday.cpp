// DateTimeValue::parse on arbitrary text, as stored for the quiet-hours
// range: a value found must have a time of day within [0, 1) and survive
// being written back and read again.
#include "DateTimeValue.h"
#include "FuzzCheck.h"

#include <QString>
#include <cmath>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto value = DateTimeValue::parse(text);
    if (!value)
        return 0;

    FUZZ_CHECK(std::isfinite(*value), "value %g", *value);
    const double time = DateTimeValue::timeOfDay(*value);
    FUZZ_CHECK(time >= 0.0 && time < 1.0, "time of day %.17g of %.17g", time, *value);
    const int seconds = DateTimeValue::secondsOfDay(*value);
    FUZZ_CHECK(seconds >= 0 && seconds < 86400, "seconds %d", seconds);
    FUZZ_CHECK(DateTimeValue::toTime(*value).isValid(), "no QTime for %.17g", *value);

    // What the settings keep of it is a time of day alone.
    const double kept = DateTimeValue::fromTime(DateTimeValue::toTime(*value));
    FUZZ_CHECK(kept >= 0.0 && kept < 1.0, "kept %.17g", kept);

    // Written to the store and read back, the value is unchanged.
    const QString stored = DateTimeValue::toStoreText(*value);
    const auto again = DateTimeValue::parse(stored);
    FUZZ_CHECK(again && *again == *value, "'%s' read as %.17g, stored as '%s', read back as %.17g",
               qPrintable(text), *value, qPrintable(stored), again ? *again : NAN);

    // Only ASCII digits make a number: any other digit would convert to 0.
    for (const QChar c : text)
        FUZZ_CHECK(!c.isDigit() || c.unicode() < 0x80, "'%s' accepted with the digit U+%04X",
                   qPrintable(text), unsigned(c.unicode()));
    return 0;
}
