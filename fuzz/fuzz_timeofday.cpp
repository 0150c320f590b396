// DateTimeValue::parse on arbitrary text, as stored for the quiet hours: a value found has a time of day in
// [0, 1) and survives being written back and read again.
#include "DateTimeValue.h"
#include "FuzzCheck.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto value = DateTimeValue::parse(text);
    if (!value)
        return 0;
    const double time = DateTimeValue::timeOfDay(*value);
    const int seconds = DateTimeValue::secondsOfDay(*value);
    FUZZ_CHECK(std::isfinite(*value) && time >= 0.0 && time < 1.0 && seconds >= 0 && seconds < 86400
                   && DateTimeValue::toTime(*value).isValid(),
               "%.17g: time of day %.17g, %d seconds", *value, time, seconds);
    const double kept = DateTimeValue::fromTime(DateTimeValue::toTime(*value)); // what the settings keep
    FUZZ_CHECK(kept >= 0.0 && kept < 1.0, "kept %.17g", kept);

    const QString stored = DateTimeValue::toStoreText(*value);
    const auto again = DateTimeValue::parse(stored);
    FUZZ_CHECK(again && *again == *value, "'%s' read as %.17g, stored as '%s', read back as %.17g",
               qPrintable(text), *value, qPrintable(stored), again ? *again : NAN);
    // Any other digit would convert to 0.
    for (const QChar c : text)
        FUZZ_CHECK(!c.isDigit() || c.unicode() < 0x80, "'%s' accepted with the digit U+%04X", qPrintable(text),
                   unsigned(c.unicode()));
    return 0;
}
