// The sixteen bell recordings, decoded for real with LAME's own decoder
// (`lame --decode`, Debian package 'lame'): notes by onset detection, length,
// peak and loudness, as the clock's schedule needs them.
#include <QtTest>

#include <QFile>
#include <QHash>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>
#include <cmath>

namespace {

struct Decoded {
    int sampleRate = 0;
    int channels = 0;
    std::vector<float> samples;  // mono, full scale = 1
    QString error;

    double seconds() const { return sampleRate ? double(samples.size()) / sampleRate : 0.0; }
};

quint16 u16(const QByteArray &b, qsizetype at) { return qFromLittleEndian<quint16>(b.constData() + at); }
quint32 u32(const QByteArray &b, qsizetype at) { return qFromLittleEndian<quint32>(b.constData() + at); }

// A RIFF WAVE file of 16-bit PCM, as `lame --decode` writes it.
Decoded parseWav(const QByteArray &wav)
{
    Decoded d;
    if (wav.size() < 12 || !wav.startsWith("RIFF") || wav.mid(8, 4) != "WAVE") {
        d.error = QStringLiteral("not a RIFF WAVE file");
        return d;
    }
    int bits = 0;
    qsizetype at = 12;
    while (at + 8 <= wav.size()) {
        const QByteArray id = wav.mid(at, 4);
        qsizetype size = u32(wav, at + 4);
        const qsizetype body = at + 8;
        if (id == "fmt " && size >= 16 && body + 16 <= wav.size()) {
            d.channels = u16(wav, body + 2);
            d.sampleRate = int(u32(wav, body + 4));
            bits = u16(wav, body + 14);
        } else if (id == "data") {
            size = std::min<qsizetype>(size, wav.size() - body);  // a streamed header may overstate it
            if (bits != 16 || d.channels < 1) {
                d.error = QStringLiteral("unexpected format: %1 bits, %2 channels").arg(bits).arg(d.channels);
                return d;
            }
            const qsizetype frames = size / (2 * d.channels);
            d.samples.resize(std::size_t(frames));
            for (qsizetype f = 0; f < frames; ++f) {
                double sum = 0;
                for (int c = 0; c < d.channels; ++c)
                    sum += qint16(u16(wav, body + 2 * (f * d.channels + c)));
                d.samples[std::size_t(f)] = float(sum / d.channels / 32768.0);
            }
            return d;
        }
        at = body + size + (size & 1);
    }
    d.error = QStringLiteral("no data chunk");
    return d;
}

Decoded decode(const QString &lame, const QString &mp3, const QString &wavPath)
{
    QProcess process;
    process.start(lame, {QStringLiteral("--decode"), QStringLiteral("--quiet"), mp3, wavPath});
    Decoded failed;
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0) {
        failed.error = QStringLiteral("lame --decode failed: %1 %2")
                           .arg(process.errorString(), QString::fromLocal8Bit(process.readAllStandardError()));
        return failed;
    }
    QFile file(wavPath);
    if (!file.open(QIODevice::ReadOnly)) {
        failed.error = QStringLiteral("no decoded file");
        return failed;
    }
    return parseWav(file.readAll());
}

double toDb(double x) { return 20.0 * std::log10(std::max(x, 1e-12)); }

double peak(const std::vector<float> &x)
{
    double p = 0;
    for (float s : x)
        p = std::max(p, double(std::fabs(s)));
    return p;
}

// RMS over the sounding part: the 10 ms frames whose own RMS is at least -40 dBFS.
double soundingRms(const std::vector<float> &x, int rate)
{
    const std::size_t frame = std::size_t(rate / 100);
    const double threshold = std::pow(10.0, -40.0 / 20.0);
    double sum = 0;
    std::size_t count = 0;
    for (std::size_t start = 0; start + frame <= x.size(); start += frame) {
        double e = 0;
        for (std::size_t i = start; i < start + frame; ++i)
            e += double(x[i]) * x[i];
        if (std::sqrt(e / double(frame)) >= threshold) {
            sum += e;
            count += frame;
        }
    }
    return count ? std::sqrt(sum / double(count)) : 0.0;
}

// Onset detection that survives repeated strikes of one bell and the long,
// overlapping decays: the energy of the pre-emphasised signal (a strike is
// broadband, the ringing that it lands on is mostly low partials) in 10 ms
// frames; a frame starts a note when its energy is kOnsetFactor times the mean
// of the ~50 ms before (skipping the frame just before it, which may already
// hold part of the strike), the frame is no quieter than 40 dB below the
// loudest, and at least 200 ms have passed since the last onset.
constexpr double kOnsetFactor = 4.0;

struct OnsetTrace {
    std::vector<double> times;  // seconds
    double weakestOnset = 1e300;  // smallest jump that started a note
    double strongestOther = 0;    // largest jump elsewhere (above the floor)
};

OnsetTrace onsets(const std::vector<float> &x, int rate)
{
    const std::size_t frame = std::size_t(rate / 100);
    std::vector<double> energy;
    float previous = 0;
    for (std::size_t start = 0; start + frame <= x.size(); start += frame) {
        double e = 0;
        for (std::size_t i = start; i < start + frame; ++i) {
            const double y = double(x[i]) - 0.95 * previous;
            previous = x[i];
            e += y * y;
        }
        energy.push_back(e);
    }
    OnsetTrace trace;
    if (energy.empty())
        return trace;
    const double floor = *std::max_element(energy.begin(), energy.end()) * 1e-4;
    constexpr std::size_t refractory = 20;  // frames
    constexpr std::size_t before = 5;       // frames compared against
    std::ptrdiff_t last = -std::ptrdiff_t(refractory);
    for (std::size_t i = 0; i < energy.size(); ++i) {
        if (energy[i] < floor)
            continue;
        double sum = 0;
        for (std::size_t k = 0; k < before; ++k)
            sum += i >= 2 + k ? energy[i - 2 - k] : 0.0;
        const double ratio = energy[i] / std::max(sum / before, 1e-30);
        if (std::ptrdiff_t(i) - last < std::ptrdiff_t(refractory))
            continue;
        if (ratio >= kOnsetFactor) {
            trace.times.push_back(double(i * frame) / rate);
            trace.weakestOnset = std::min(trace.weakestOnset, ratio);
            last = std::ptrdiff_t(i);
        } else {
            trace.strongestOther = std::max(trace.strongestOther, ratio);
        }
    }
    return trace;
}

QString list(const std::vector<double> &times)
{
    QStringList parts;
    for (double t : times)
        parts << QString::number(t, 'f', 2);
    return parts.join(QLatin1Char(' '));
}

} // namespace

class BellRecordingsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void recording_data();
    void recording();
    void equallyLoud();

private:
    static QStringList names();
    static QString pathOf(const QString &name)
    {
        return QStringLiteral(TINTAREL_PROGRAM_DIR "/") + name + QStringLiteral(".mp3");
    }

    QHash<QString, Decoded> m_decoded;
};

QStringList BellRecordingsTest::names()
{
    QStringList n{QStringLiteral("Carill1"), QStringLiteral("Carill2"), QStringLiteral("Carill3"),
                  QStringLiteral("Carill4")};
    for (int h = 1; h <= 12; ++h)
        n << QStringLiteral("CarillH%1").arg(h);
    return n;
}

void BellRecordingsTest::initTestCase()
{
    const QString lame = QStandardPaths::findExecutable(QStringLiteral("lame"));
    QVERIFY2(!lame.isEmpty(), "the decoder `lame` (Debian package 'lame') is not installed");
    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    for (const QString &name : names()) {
        Decoded d;
        if (QFile::exists(pathOf(name)))
            d = decode(lame, pathOf(name), scratch.filePath(name + QStringLiteral(".wav")));
        else
            d.error = QStringLiteral("missing: ") + pathOf(name);
        m_decoded.insert(name, d);
    }
}

void BellRecordingsTest::recording_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("notes");
    QTest::addColumn<double>("minSeconds");
    QTest::addColumn<double>("maxSeconds");

    // Quarter chimes: between the six-second start window and the cut at ten.
    QTest::newRow("Carill2") << QStringLiteral("Carill2") << 4 << 7.0 << 9.5;
    QTest::newRow("Carill3") << QStringLiteral("Carill3") << 8 << 7.0 << 9.5;
    QTest::newRow("Carill4") << QStringLiteral("Carill4") << 12 << 7.0 << 9.5;
    QTest::newRow("Carill1") << QStringLiteral("Carill1") << 16 << 7.0 << 18.0;
    // Hour strikes, 2.5-2.8 s apart, with a tail; twelve of them within 36 s.
    for (int n = 1; n <= 12; ++n) {
        const QString name = QStringLiteral("CarillH%1").arg(n);
        QTest::newRow(qPrintable(name)) << name << n << (n - 1) * 2.5 + 2.0 << 36.0;
    }
}

void BellRecordingsTest::recording()
{
    QFETCH(QString, name);
    QFETCH(int, notes);
    QFETCH(double, minSeconds);
    QFETCH(double, maxSeconds);

    // An MPEG-1 Layer III stream at 44.1 kHz, with LAME's tag in its first frame.
    QFile file(pathOf(name));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(QStringLiteral("cannot open ") + pathOf(name)));
    const QByteArray head = file.read(4096);
    QVERIFY(head.size() >= 4);
    const auto byte = [&](int i) { return quint8(head.at(i)); };
    QVERIFY2(byte(0) == 0xFF && (byte(1) & 0xE0) == 0xE0, "no MPEG frame at the start");
    QCOMPARE((byte(1) >> 3) & 3, 3);  // MPEG-1
    QCOMPARE((byte(1) >> 1) & 3, 1);  // Layer III
    QCOMPARE((byte(2) >> 2) & 3, 0);  // 44100 Hz
    QVERIFY2(head.contains("LAME"), "no LAME tag");

    const Decoded d = m_decoded.value(name);
    QVERIFY2(d.error.isEmpty(), qPrintable(d.error));
    QCOMPARE(d.sampleRate, 44100);

    const double seconds = d.seconds();
    QVERIFY2(seconds >= minSeconds && seconds <= maxSeconds,
             qPrintable(QStringLiteral("%1 s, wanted %2-%3 s").arg(seconds).arg(minSeconds).arg(maxSeconds)));

    const double peakDb = toDb(peak(d.samples));
    QVERIFY2(peakDb <= -1.0, qPrintable(QStringLiteral("peak %1 dBFS").arg(peakDb)));

    // Ends cleanly: the last 10 ms are faded out to near silence.
    const std::vector<float> end(d.samples.end() - d.sampleRate / 100, d.samples.end());
    QVERIFY2(toDb(peak(end)) <= -50.0, qPrintable(QStringLiteral("ends at %1 dBFS").arg(toDb(peak(end)))));

    const OnsetTrace trace = onsets(d.samples, d.sampleRate);
    const QString found = QStringLiteral("onsets at %1 s (weakest jump x%2, strongest other x%3)")
                              .arg(list(trace.times))
                              .arg(trace.weakestOnset, 0, 'f', 1)
                              .arg(trace.strongestOther, 0, 'f', 1);
    if (qEnvironmentVariableIsSet("TINTAREL_SOUNDS_VERBOSE"))
        qInfo("%s: %.2f s, peak %.2f dBFS, rms %.2f dBFS, %s", qPrintable(name), seconds, peakDb,
              toDb(soundingRms(d.samples, d.sampleRate)), qPrintable(found));
    QVERIFY2(int(trace.times.size()) == notes, qPrintable(found));
    // The schedule only works if the chime starts at once.
    QVERIFY2(trace.times.front() < 0.5, qPrintable(found));

    if (name.startsWith(QStringLiteral("CarillH"))) {
        for (std::size_t k = 1; k < trace.times.size(); ++k) {
            const double gap = trace.times[k] - trace.times[k - 1];
            QVERIFY2(gap >= 2.45 && gap <= 2.85, qPrintable(found));
        }
    }
}

void BellRecordingsTest::equallyLoud()
{
    double quietest = 1e300, loudest = -1e300;
    QStringList levels;
    for (const QString &name : names()) {
        const Decoded d = m_decoded.value(name);
        QVERIFY2(d.error.isEmpty(), qPrintable(name + QStringLiteral(": ") + d.error));
        const double rms = toDb(soundingRms(d.samples, d.sampleRate));
        levels << QStringLiteral("%1 %2").arg(name).arg(rms, 0, 'f', 2);
        quietest = std::min(quietest, rms);
        loudest = std::max(loudest, rms);
    }
    QVERIFY2(loudest - quietest <= 1.0,
             qPrintable(QStringLiteral("RMS spread %1 dB: %2").arg(loudest - quietest).arg(levels.join(QStringLiteral(", ")))));
}

QTEST_GUILESS_MAIN(BellRecordingsTest)
#include "tst_bellrecordings.moc"
