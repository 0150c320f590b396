// FaceLayout::couperDate on arbitrary text, width function and room: the date comes back with at most one of
// its last two spaces turned into a line break, the last one when the first line fits.
#include "FaceLayout.h"
#include "FuzzCheck.h"

#include <array>
#include <fuzzer/FuzzedDataProvider.h>
#include <limits>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    constexpr double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const int widthKind = in.ConsumeIntegralInRange(0, 3);
    const int roomKind = in.ConsumeIntegralInRange(0, 7);
    const double available = roomKind < 3 ? std::array{nan, inf, -inf}[roomKind]
                                          : double(in.ConsumeIntegralInRange(-100, 5000));
    const std::string bytes = in.ConsumeRemainingBytesAsString();
    const QString date = QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));

    int calls = 0;
    const auto width = [&](const QString &text) {
        ++calls;
        double sum = 0; // a proportional font
        for (const QChar c : text)
            sum += 30.0 + double(c.unicode() % 97);
        return std::array{90.0 * double(text.size()), sum, nan, 0.0}[widthKind];
    };
    const QString result = FaceLayout::couperDate(date, width, available);

    FUZZ_CHECK(calls <= 1, "width measured %d times", calls);
    FUZZ_CHECK(result.size() == date.size(), "size %lld became %lld", qlonglong(date.size()), qlonglong(result.size()));
    qsizetype changed = -1;
    for (qsizetype i = 0; i < date.size(); ++i) {
        if (result[i] == date[i])
            continue;
        FUZZ_CHECK(changed < 0, "more than one character changed");
        FUZZ_CHECK(date[i] == QLatin1Char(' ') && result[i] == QLatin1Char('\n'), "U+%04X became U+%04X at %lld",
                   unsigned(date[i].unicode()), unsigned(result[i].unicode()), qlonglong(i));
        changed = i;
    }
    const qsizetype last = date.lastIndexOf(QLatin1Char(' '));
    if (last < 0) {
        FUZZ_CHECK(changed < 0 && calls == 0, "a date without a space was split or measured");
        return 0;
    }
    FUZZ_CHECK(calls == 1, "the first line was not measured");
    if (!(width(date.left(last)) >= available))
        FUZZ_CHECK(changed == last, "a first line that fits was not split at the last space");
    else
        FUZZ_CHECK(changed == (last > 0 ? date.lastIndexOf(QLatin1Char(' '), last - 1) : -1),
                   "a first line too wide was not split at the space before");
    return 0;
}
