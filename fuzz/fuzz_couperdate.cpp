// FaceLayout::couperDate on arbitrary text, width function and room: the
// result is the date with at most one of its last two spaces turned into a
// line break.
#include "FaceLayout.h"
#include "FuzzCheck.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QString>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    const int widthKind = in.ConsumeIntegralInRange(0, 3);
    double available = 0;
    switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0: available = std::numeric_limits<double>::quiet_NaN(); break;
    case 1: available = std::numeric_limits<double>::infinity(); break;
    case 2: available = -std::numeric_limits<double>::infinity(); break;
    default: available = double(in.ConsumeIntegralInRange(-100, 5000)); break;
    }
    const std::string bytes = in.ConsumeRemainingBytesAsString();
    const QString date = QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));

    int calls = 0;
    const auto width = [&](const QString &text) -> double {
        ++calls;
        switch (widthKind) {
        case 0: return 90.0 * double(text.size()); // a fixed-pitch font
        case 1: {
            double sum = 0; // a proportional one
            for (const QChar c : text)
                sum += 30.0 + double(c.unicode() % 97);
            return sum;
        }
        case 2: return std::numeric_limits<double>::quiet_NaN();
        default: return 0;
        }
    };

    const QString result = FaceLayout::couperDate(date, width, available);

    FUZZ_CHECK(calls <= 1, "width measured %d times", calls);
    FUZZ_CHECK(result.size() == date.size(), "size %lld became %lld", qlonglong(date.size()),
               qlonglong(result.size()));
    qsizetype changed = -1;
    for (qsizetype i = 0; i < date.size(); ++i) {
        if (result[i] == date[i])
            continue;
        FUZZ_CHECK(changed < 0, "more than one character changed");
        FUZZ_CHECK(date[i] == QLatin1Char(' ') && result[i] == QLatin1Char('\n'),
                   "U+%04X became U+%04X at %lld", unsigned(date[i].unicode()), unsigned(result[i].unicode()),
                   qlonglong(i));
        changed = i;
    }
    // Joined back with the space, the two lines are the date.
    QString joined = result;
    if (changed >= 0)
        joined[changed] = QLatin1Char(' ');
    FUZZ_CHECK(joined == date, "the lines do not join back into the date");

    const qsizetype last = date.lastIndexOf(QLatin1Char(' '));
    if (last < 0) {
        FUZZ_CHECK(changed < 0 && calls == 0, "a date without a space was split or measured");
        return 0;
    }
    FUZZ_CHECK(calls == 1, "the first line was not measured");
    const qsizetype before = last > 0 ? date.lastIndexOf(QLatin1Char(' '), last - 1) : -1;
    const bool fits = !(width(date.left(last)) >= available);
    if (fits)
        FUZZ_CHECK(changed == last, "a first line that fits was not split at the last space");
    else
        FUZZ_CHECK(changed == before, "a first line too wide was not split at the space before");
    return 0;
}
