// The sixteen bell recordings, decoded for real with LAME's own decoder
// (`lame --decode`, Debian package 'lame') and heard the way a listener would:
// which bell strikes when, how loud each file is to the ear, its true peak, and
// whether its tail rings out like a bell's.
#include "loudness.h"

#include <QtTest>

#include <QHash>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <numbers>

namespace {

constexpr int kRate = 44100;

QString pathOf(const QString &name) { return QStringLiteral(TINTAREL_PROGRAM_DIR "/") + name + QStringLiteral(".mp3"); }

// Mono samples at full scale 1, or an empty vector.
std::vector<float> decode(const QString &lame, const QString &mp3)
{
    QProcess process;
    process.start(lame, {QStringLiteral("--decode"), QStringLiteral("-t"), QStringLiteral("--quiet"), mp3,
                         QStringLiteral("-")});
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return {};
    const QByteArray raw = process.readAllStandardOutput();
    std::vector<float> samples(std::size_t(raw.size() / 2));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = float(qFromLittleEndian<qint16>(raw.constData() + 2 * i) / 32768.0);
    return samples;
}

double toDb(double x) { return 20.0 * std::log10(std::max(x, 1e-12)); }

// Onsets, in samples: a strike is broadband and lands on a ringing that is
// mostly low partials, so the energy of the pre-emphasised signal in 10 ms
// frames jumps 2.5-fold over the ~50 ms before it (skipping the frame just
// before, which may hold the start of the strike). Quieter than 40 dB below
// the loudest frame, or within 200 ms of the last onset, is no onset.
std::vector<std::size_t> onsets(const std::vector<float> &x)
{
    constexpr std::size_t frame = kRate / 100;
    std::vector<double> energy;
    for (std::size_t start = 0; start + frame <= x.size(); start += frame) {
        double e = 0;
        for (std::size_t i = std::max<std::size_t>(start, 1); i < start + frame; ++i)
            e += std::pow(double(x[i]) - 0.95 * x[i - 1], 2);
        energy.push_back(e);
    }
    std::vector<std::size_t> found;
    const double floor = *std::max_element(energy.begin(), energy.end()) * 1e-4;
    for (std::size_t i = 0; i < energy.size(); ++i) {
        double before = 0;
        for (std::size_t k = 2; k < 7; ++k)
            before += i >= k ? energy[i - k] / 5 : 0.0;
        if (energy[i] >= floor && energy[i] >= 2.5 * before && (found.empty() || i * frame - found.back() >= 20 * frame))
            found.push_back(i * frame);
    }
    return found;
}

// Power at one frequency in a windowed stretch (Goertzel), per sample squared.
double powerAt(const std::vector<float> &x, std::size_t from, const std::vector<double> &window, double hz)
{
    const double c = 2 * std::cos(2 * std::numbers::pi * hz / kRate);
    double s1 = 0, s2 = 0;
    for (std::size_t i = 0; i < window.size() && from + i < x.size(); ++i) {
        const double s = window[i] * x[from + i] + c * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return (s1 * s1 + s2 * s2 - c * s1 * s2) / double(window.size() * window.size());
}

// The note a strike sounds, an octave below its nominal: the ear hears it from
// the nominal, the superquint and the octave nominal (2, 3 and 4 times the
// note), the strongest partials at the strike. Of every semitone from C2 to
// C6, the struck bell is the one whose three partials, the nominal counting
// double, gain the most power after the onset over as long before it (the
// bells struck earlier still ring). A bell struck again while it rings may
// gain little at its nominal, which the octave below counts as its octave
// nominal: where the octave above has the stronger nominal, it is the note.
QString noteAt(const std::vector<float> &x, std::size_t onset, std::size_t next)
{
    const std::size_t skip = kRate / 50;
    std::vector<double> window(std::min<std::size_t>(kRate * 2 / 5, next - onset - skip));
    for (std::size_t i = 0; i < window.size(); ++i)  // Hann
        window[i] = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / double(window.size()));
    std::array<double, 85> score{};
    for (int midi = 36; midi <= 84; ++midi)
        for (int partial = 2; partial <= 4; ++partial) {
            const double hz = partial * 440.0 * std::pow(2.0, (midi - 69) / 12.0);
            score[std::size_t(midi)] += (partial == 2 ? 2.0 : 1.0)
                                        * (powerAt(x, onset + skip, window, hz)
                                           - (onset >= window.size() ? powerAt(x, onset - window.size(), window, hz) : 0.0));
        }
    int best = int(std::max_element(score.begin() + 36, score.end()) - score.begin());
    const auto nominal = [&](int midi) { return powerAt(x, onset + skip, window, 2 * 440.0 * std::pow(2.0, (midi - 69) / 12.0)); };
    while (best + 12 <= 84 && nominal(best + 12) > nominal(best))
        best += 12;
    static const char *const names[] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    return QString::fromLatin1(names[best % 12]) + QString::number(best / 12 - 1);
}

// The Westminster quarters on the bells G#4 F#4 E4 B3.
const QStringList kChanges = {QStringLiteral("G#4 F#4 E4 B3"), QStringLiteral("E4 G#4 F#4 B3"),
                              QStringLiteral("E4 F#4 G#4 E4"), QStringLiteral("G#4 E4 F#4 B3"),
                              QStringLiteral("B3 F#4 G#4 E4")};

} // namespace

class BellRecordingsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void recording_data();
    void recording();
    void equallyLoud();

private:
    QHash<QString, std::vector<float>> m_decoded;
};

void BellRecordingsTest::initTestCase()
{
    const QString lame = QStandardPaths::findExecutable(QStringLiteral("lame"));
    QVERIFY2(!lame.isEmpty(), "the decoder `lame` (Debian package 'lame') is not installed");
    for (int n = 1; n <= 16; ++n) {
        const QString name = n <= 4 ? QStringLiteral("Carill%1").arg(n) : QStringLiteral("CarillH%1").arg(n - 4);
        m_decoded.insert(name, decode(lame, pathOf(name)));
    }
}

void BellRecordingsTest::recording_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("notes");
    QTest::addColumn<double>("minSeconds");
    QTest::addColumn<double>("maxSeconds");

    // Quarter chimes: longer than the six-second start window (or the clock
    // would start them again) and shorter than the cut at ten; the hour's
    // melody ends within the twenty seconds after which the hours are not
    // struck, and twelve strikes end before the cut at forty.
    const auto changes = [](std::initializer_list<int> numbers) {
        QStringList notes;
        for (int n : numbers)
            notes << kChanges[n - 1];
        return notes.join(QLatin1Char(' '));
    };
    QTest::newRow("Carill1, full hour") << QStringLiteral("Carill1") << changes({2, 3, 4, 5}) << 7.0 << 18.0;
    QTest::newRow("Carill2, quarter past") << QStringLiteral("Carill2") << changes({1}) << 7.0 << 9.5;
    QTest::newRow("Carill3, half past") << QStringLiteral("Carill3") << changes({2, 3}) << 7.0 << 9.5;
    QTest::newRow("Carill4, quarter to") << QStringLiteral("Carill4") << changes({4, 5, 1}) << 7.0 << 9.5;
    for (int n = 1; n <= 12; ++n) {
        const QString name = QStringLiteral("CarillH%1").arg(n);
        QTest::newRow(qPrintable(name)) << name << QStringList(n, QStringLiteral("E3")).join(QLatin1Char(' '))
                                        << (n - 1) * 2.5 + 2.0 << 36.0;
    }
}

void BellRecordingsTest::recording()
{
    QFETCH(QString, name);
    QFETCH(QString, notes);
    QFETCH(double, minSeconds);
    QFETCH(double, maxSeconds);

    const std::vector<float> &x = m_decoded.value(name);
    QVERIFY2(!x.empty(), "not decoded");
    const double seconds = double(x.size()) / kRate;
    QVERIFY2(seconds >= minSeconds && seconds <= maxSeconds,
             qPrintable(QStringLiteral("%1 s, wanted %2-%3 s").arg(seconds).arg(minSeconds).arg(maxSeconds)));
    const double truePeak = toDb(loudness::truePeak(x));
    QVERIFY2(truePeak <= -1.0, qPrintable(QStringLiteral("true peak %1 dBTP").arg(truePeak)));
    const double end = toDb(loudness::truePeak(std::span<const float>(x.end() - kRate / 100, x.end())));
    QVERIFY2(end <= -50.0, qPrintable(QStringLiteral("ends at %1 dBFS").arg(end)));

    const std::vector<std::size_t> strikes = onsets(x);
    QStringList heard, times;
    for (std::size_t k = 0; k < strikes.size(); ++k) {
        heard << noteAt(x, strikes[k], k + 1 < strikes.size() ? strikes[k + 1] : x.size());
        times << QString::number(double(strikes[k]) / kRate, 'f', 2);
    }
    // In the quarters each note name is one bell; where a bell's nominal meets
    // another's partial that still rings (B3's superquint is F#4's nominal), the
    // strike may be heard an octave off, so they are compared by name. The hour
    // bell is compared to the octave.
    QString played = heard.join(QLatin1Char(' '));
    if (!name.startsWith(QStringLiteral("CarillH"))) {
        static const QRegularExpression octave(QStringLiteral("[0-9]"));
        played.remove(octave);
        notes.remove(octave);
    }
    QCOMPARE(played, notes);
    QVERIFY2(strikes.front() < kRate / 2, "the chime must start at once for the schedule");
    if (name.startsWith(QStringLiteral("CarillH")))
        for (std::size_t k = 1; k < strikes.size(); ++k)
            QVERIFY2(std::abs(double(strikes[k] - strikes[k - 1]) / kRate - 2.65) <= 0.2, qPrintable(times.join(' ')));

    // A bell rings out: until the tail has fallen 30 LU below the loudest
    // moment, its momentary loudness (400 ms blocks, every 100 ms) falls no
    // faster than 20 LU a second; a fade while it still sounds falls faster.
    const std::vector<double> blocks = loudness::blockPowers(x, kRate);
    const double loudest = loudness::lufs(*std::max_element(blocks.begin(), blocks.end()));
    for (std::size_t b = strikes.back() / (kRate / 10) + 5; b + 5 < blocks.size(); ++b) {
        const double now = loudness::lufs(blocks[b]), later = loudness::lufs(blocks[b + 5]);
        if (later < loudest - 30)
            break;
        QVERIFY2(now - later <= 10.0, qPrintable(QStringLiteral("the tail falls %1 LU in 0.5 s at %2 s, %3 LU down")
                                                      .arg(now - later, 0, 'f', 1)
                                                      .arg(0.1 * double(b), 0, 'f', 1)
                                                      .arg(loudest - now, 0, 'f', 1)));
    }
}

// Equally loud to the ear (EBU R128 integrated loudness), and the hours never
// quieter than the quarters that come before them.
void BellRecordingsTest::equallyLoud()
{
    double quietest = 1e300, loudest = -1e300, quietestHour = 1e300, loudestQuarter = -1e300;
    QStringList levels;
    for (auto it = m_decoded.cbegin(); it != m_decoded.cend(); ++it) {
        QVERIFY2(!it.value().empty(), qPrintable(it.key() + QStringLiteral(" not decoded")));
        const double level = loudness::integrated(loudness::blockPowers(it.value(), kRate));
        levels << QStringLiteral("%1 %2").arg(it.key()).arg(level, 0, 'f', 2);
        quietest = std::min(quietest, level);
        loudest = std::max(loudest, level);
        if (it.key().startsWith(QStringLiteral("CarillH")))
            quietestHour = std::min(quietestHour, level);
        else
            loudestQuarter = std::max(loudestQuarter, level);
    }
    levels.sort();
    const QByteArray all = levels.join(QStringLiteral(", ")).toLatin1();
    QVERIFY2(loudest - quietest <= 1.0, all.constData());
    QVERIFY2(quietestHour >= loudestQuarter, all.constData());
}

QTEST_GUILESS_MAIN(BellRecordingsTest)
#include "tst_bellrecordings.moc"
