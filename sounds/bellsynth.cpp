// Tintarel's bell synthesiser: writes the sixteen chime recordings at build time.
//
// Bell model. A struck church bell rings as a sum of exponentially decaying
// sine partials at fixed ratios to its strike note: the hum an octave below
// (0.5), the prime (1), the minor-third tierce (1.19), the quint (1.5), the
// nominal an octave above (2), and the upper partials (deciem 2.5, undeciem
// 2.67, superquint 3, octave nominal 4 and inharmonic ones up to twenty times
// the note, which make the clang of the strike). The ear hears the strike note
// an octave below the nominal, from the nominal, superquint and octave nominal,
// which are the strongest partials at the strike. No bell is perfectly round,
// so every partial is a pair of modes a fraction of a hertz to a few hertz
// apart, the second one weaker; the pair beats, which gives the slow wavering
// of a real bell. Low partials ring longest (the hum lingers after everything
// else has died away), high ones die within a fraction of a second, and a
// bigger (lower) bell rings longer than a small one. The clapper's impact is a
// band-passed noise burst of a few milliseconds, and every mode starts with a
// 1.5 ms ramp so that the strike does not click. Every strike is rendered on
// its own, slightly different from the last (see strike()).
//
// The recordings: Carill2, Carill3, Carill4 and Carill1 play one, two, three
// and four changes of the Westminster quarters on four bells G#4 F#4 E4 B3
// (three equal notes 0.45 s apart, the fourth held 0.9 s); CarillH<n> strikes
// a deep E3 hour bell n times, 2.6 s apart. The bells are heard in the open
// air with a light reverberation, each file rings out until it has fallen
// 30 LU below its loudest moment before it fades, and all sixteen are
// normalised on EBU R128 loudness (loudness.h), the hours 0.4 LU above the
// quarters, with true peaks at most -2 dBTP before encoding. Everything is
// deterministic: the variation comes from a fixed-seed generator of our own.
//
// Usage: tintarel_bellsynth OUTPUT_DIR [--verbose]
#include "loudness.h"

#include <lame/lame.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr double kPi = std::numbers::pi;

// One partial of a bell whose strike note is G#4; other sizes are scaled.
struct Partial {
    double ratio;    // frequency / strike note
    double amp;      // amplitude at the strike
    double t60;      // seconds to decay by 60 dB
    double beatHz;   // distance of its weaker twin
    double twinAmp;  // amplitude of the twin relative to the partial
};

constexpr std::array<Partial, 19> kPartials = {{
    {0.500, 0.28, 10.0, 0.45, 0.40},  // hum
    {1.000, 0.40, 6.0, 0.80, 0.35},   // prime
    {1.189, 0.40, 5.0, 1.30, 0.35},   // tierce
    {1.500, 0.15, 3.5, 1.90, 0.30},   // quint
    {2.000, 1.00, 5.0, 1.10, 0.35},   // nominal
    {2.520, 0.40, 2.6, 2.70, 0.30},   // deciem
    {2.670, 0.25, 2.0, 3.30, 0.30},   // undeciem
    {3.000, 0.55, 2.4, 3.90, 0.30},   // superquint
    {4.000, 0.40, 1.6, 4.70, 0.30},   // octave nominal
    {5.040, 0.28, 0.90, 5.3, 0.30},   // upper, inharmonic
    {5.930, 0.22, 0.70, 6.1, 0.30},
    {6.740, 0.18, 0.55, 7.0, 0.30},
    {8.150, 0.14, 0.40, 8.2, 0.30},
    {9.620, 0.10, 0.30, 9.5, 0.30},
    {11.30, 0.08, 0.22, 11.0, 0.30},
    {13.10, 0.06, 0.16, 12.5, 0.30},
    {15.20, 0.05, 0.12, 14.0, 0.30},
    {17.60, 0.04, 0.09, 16.0, 0.30},
    {20.30, 0.03, 0.07, 18.0, 0.30},
}};

constexpr double kReferenceNote = 415.305;  // G#4

// splitmix64: small, fast and the same everywhere.
class Random {
public:
    explicit Random(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double uniform() { return double(next() >> 11) * 0x1.0p-53; }  // [0, 1)
    double symmetric() { return 2.0 * uniform() - 1.0; }          // [-1, 1)

private:
    std::uint64_t m_state;
};

double noteFrequency(int midi) { return 440.0 * std::pow(2.0, (midi - 69) / 12.0); }

struct Bell {
    double note;   // strike note, Hz
    double level;  // loudness relative to the other bells
};

// Adds one decaying sine from sample `at` until it is 100 dB below full scale,
// with a 1.5 ms rise so that the strike does not click.
void addMode(std::vector<double> &out, std::size_t at, double freq, double amp, double t60)
{
    const double audible = t60 * std::log10(amp / 1e-5) / 3.0;
    if (audible <= 0 || at >= out.size())
        return;
    const std::size_t end = std::min(out.size(), at + std::size_t(audible * kRate));
    const std::size_t rise = std::size_t(0.0015 * kRate);
    std::complex<double> z = amp;
    const std::complex<double> w = std::polar(std::pow(1e-3, 1.0 / (t60 * kRate)), 2 * kPi * freq / kRate);
    for (std::size_t i = at; i < end; ++i) {
        const std::size_t k = i - at;
        out[i] += k < rise ? z.imag() * (0.5 - 0.5 * std::cos(kPi * double(k) / double(rise))) : z.imag();
        z *= w;
    }
}

// One strike of a bell. No two are alike: the force of the blow and where the
// clapper lands (which sets how strongly each partial and its twin are
// excited, and how long they ring) change from strike to strike, and a harder
// blow brings out the upper partials more than the lower ones.
void strike(std::vector<double> &out, std::size_t at, const Bell &bell, Random &random)
{
    const double size = kReferenceNote / bell.note;  // > 1 for a bigger bell
    const double decayScale = std::pow(size, 0.7);
    const double force = 1.0 + 0.06 * random.symmetric();
    for (const Partial &p : kPartials) {
        const double f = bell.note * p.ratio;
        if (f > 0.4 * kRate)
            continue;
        const double amp = bell.level * p.amp * (p.ratio < 0.75 ? std::pow(size, 0.25) : 1.0)
                           * std::pow(force, 0.5 + 0.4 * p.ratio) * (1.0 + 0.12 * random.symmetric());
        const double t60 = p.t60 * decayScale * (1.0 + 0.05 * random.symmetric());
        const double twin = p.twinAmp * (0.5 + random.uniform());
        // A blow sets every mode moving from rest, so each starts as a sine
        // and a partial's twin starts in step with it: the pair beats from
        // its loudest, and the strike note sounds at once.
        addMode(out, at, f, amp, t60);
        addMode(out, at, f + p.beatHz, amp * twin, t60 * 0.85);
    }

    // The clapper's impact: noise through a resonant band-pass (RBJ biquad).
    const double centre = std::min(4500.0, 9.0 * bell.note);
    const double q = 0.9;
    const double omega = 2 * kPi * centre / kRate;
    const double alpha = std::sin(omega) / (2 * q);
    const double a0 = 1 + alpha;
    const double b0 = alpha / a0, b2 = -alpha / a0;
    const double a1 = -2 * std::cos(omega) / a0, a2 = (1 - alpha) / a0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    const std::size_t burst = std::min(out.size() - at, std::size_t(0.08 * kRate));
    for (std::size_t i = 0; i < burst; ++i) {
        const double t = double(i) / kRate;
        const double env = (1 - std::exp(-t / 0.0006)) * std::exp(-t / 0.009);
        const double x = random.symmetric() * env;
        const double y = b0 * x + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        out[at + i] += 1.1 * force * bell.level * y;
    }
}

// The bells heard in the open air below their tower: the echoes of the tower's
// walls and the houses around, then a short diffuse ring (low-passed feedback
// combs into all-passes), mixed 16 dB below the dry sound.
std::vector<double> withReverberation(const std::vector<double> &dry)
{
    constexpr double rt60 = 1.6, wetDb = -16.0;
    const auto samples = [](double seconds) { return std::size_t(seconds * kRate); };
    std::vector<double> early(dry.size(), 0.0);
    for (auto [delay, gain] : {std::pair{0.021, 0.5}, {0.047, 0.35}, {0.076, 0.25}, {0.118, 0.18}})
        for (std::size_t i = samples(delay); i < dry.size(); ++i)
            early[i] += gain * dry[i - samples(delay)];

    std::vector<double> wet(dry.size(), 0.0);
    for (double delay : {0.0297, 0.0371, 0.0411, 0.0437, 0.0533}) {
        const std::size_t d = samples(delay);
        const double feedback = std::pow(1e-3, delay / rt60);
        std::vector<double> line(d, 0.0);
        double low = 0;
        for (std::size_t i = 0; i < dry.size(); ++i) {
            const double y = line[i % d];
            low = 0.55 * y + 0.45 * low;  // the air takes the highs first
            line[i % d] = early[i] + feedback * low;
            wet[i] += y;
        }
    }
    for (double delay : {0.0051, 0.0017}) {
        const std::size_t d = samples(delay);
        std::vector<double> line(d, 0.0);
        for (std::size_t i = 0; i < wet.size(); ++i) {
            const double delayed = line[i % d];
            const double v = wet[i] + 0.6 * delayed;
            line[i % d] = v;
            wet[i] = delayed - 0.6 * v;
        }
    }

    double dryEnergy = 0, wetEnergy = 0;
    for (std::size_t i = 0; i < dry.size(); ++i) {
        dryEnergy += dry[i] * dry[i];
        wetEnergy += wet[i] * wet[i];
    }
    const double gain = std::sqrt(dryEnergy / std::max(wetEnergy, 1e-30)) * std::pow(10.0, wetDb / 20.0);
    std::vector<double> out(dry);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] += gain * wet[i];
    return out;
}

struct Strike {
    int bell;       // index into the bells
    double onset;   // seconds
};

struct Recording {
    std::string name;
    std::vector<Strike> strikes;
    double minLength, maxLength;  // seconds: the clock's schedule needs these
    bool hour;
};

// The Westminster quarters, bells 1=G#4 2=F#4 3=E4 4=B3.
constexpr std::array<std::array<int, 4>, 5> kChanges = {{
    {1, 2, 3, 4},
    {3, 1, 2, 4},
    {3, 2, 1, 3},
    {1, 3, 2, 4},
    {4, 2, 1, 3},
}};

constexpr double kLeadIn = 0.05;        // silence before the first strike
constexpr double kNoteSpacing = 0.45;   // three equal notes...
constexpr double kChangeSpacing = 2.25; // ...and a fourth held twice as long
constexpr double kHourSpacing = 2.6;    // between strikes of the hour bell
constexpr int kHourBell = 4;            // index of the hour bell
constexpr double kTailDepth = 30.0;     // LU below the loudest moment before the fade begins
constexpr double kFade = 1.0;           // seconds, at least

Recording quarters(std::string name, std::initializer_list<int> changes, double maxLength)
{
    // Longer than the six seconds in which the clock starts a chime, so that it
    // is not started twice, and within the cut of the schedule.
    Recording r{std::move(name), {}, 7.2, maxLength, false};
    double start = kLeadIn;
    for (int change : changes) {
        for (int j = 0; j < 4; ++j)
            r.strikes.push_back({kChanges[change - 1][j] - 1, start + j * kNoteSpacing});
        start += kChangeSpacing;
    }
    return r;
}

Recording hours(int n)
{
    Recording r{"CarillH" + std::to_string(n), {}, 0.0, 35.5, true};
    for (int k = 0; k < n; ++k)
        r.strikes.push_back({kHourBell, kLeadIn + k * kHourSpacing});
    return r;
}

struct Mixed {
    std::vector<float> pcm;
    double ringOut = 0;    // dB a second by which the last strike's tail is shortened
    double fadeStart = 0;  // seconds after the last strike
    double fadeLevel = 0;  // LU below the loudest moment where the fade begins
};

// Strikes every bell of the recording and lets the tail ring until it has
// fallen kTailDepth below the loudest moment; only then the file fades out, by
// a fall in decibels that starts flat and steepens. Where the schedule leaves
// too little time for that, the bells ring out faster from the last strike on
// (a steady extra decay, which the ear takes for smaller bells, hidden under
// that strike), never by a sudden damping.
Mixed mix(const Recording &r, const std::array<Bell, 5> &bells, std::uint64_t seed, std::string &error)
{
    Random random(seed);
    std::vector<double> dry(std::size_t(r.maxLength * kRate), 0.0);
    double lastOnset = 0;
    for (const Strike &s : r.strikes) {
        strike(dry, std::size_t(std::lround(s.onset * kRate)), bells[std::size_t(s.bell)], random);
        lastOnset = std::max(lastOnset, s.onset);
    }
    const std::vector<double> ringing = withReverberation(dry);
    const std::size_t last = std::size_t(std::lround(lastOnset * kRate));

    Mixed m;
    for (m.ringOut = 0; m.ringOut <= 12; m.ringOut += 0.5) {
        m.pcm.assign(ringing.begin(), ringing.end());
        const double perSample = std::pow(10.0, -m.ringOut / kRate / 20.0);
        double gain = 1.0;
        for (std::size_t i = last; i < m.pcm.size(); ++i, gain *= perSample)
            m.pcm[i] = float(m.pcm[i] * gain);
        const std::vector<double> blocks = loudness::blockPowers(m.pcm, kRate);
        const double loudest = loudness::lufs(*std::max_element(blocks.begin(), blocks.end()));
        for (std::size_t b = last / (kRate / 10); b < blocks.size(); ++b) {
            const double fadeStart = 0.1 * double(b) + 0.4;  // the end of the block that fell far enough
            if (loudness::lufs(blocks[b]) > loudest - kTailDepth)
                continue;
            if (fadeStart + kFade > r.maxLength)
                break;
            m.pcm.resize(std::size_t(std::max(r.minLength, fadeStart + kFade) * kRate));
            const std::size_t from = std::size_t(fadeStart * kRate);
            for (std::size_t i = from; i < m.pcm.size(); ++i) {
                const double x = double(i - from) / double(m.pcm.size() - from);
                m.pcm[i] = float(m.pcm[i] * std::pow(10.0, -40.0 * x * x / 20.0));
            }
            m.fadeStart = fadeStart - lastOnset;
            m.fadeLevel = loudest - loudness::lufs(blocks[b]);
            return m;
        }
    }
    error = r.name + ": the bells ring too long for the length the clock allows";
    return m;
}

// Holds the peaks of a strike under `limit` with a gain that falls 5 ms ahead
// of them and recovers over ~50 ms; returns the deepest reduction in dB.
double limitPeaks(std::vector<float> &x, double limit)
{
    constexpr std::size_t ahead = kRate / 200;
    std::vector<double> gain(x.size(), 1.0);
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double need = std::fabs(x[i]) > limit ? limit / std::fabs(x[i]) : 1.0;
        for (std::size_t j = i > ahead ? i - ahead : 0; need < 1.0 && j <= std::min(x.size() - 1, i + ahead); ++j)
            gain[j] = std::min(gain[j], need);
    }
    const double release = 1.0 - std::exp(-1.0 / (0.05 * kRate));
    for (std::size_t i = 1; i < x.size(); ++i)
        gain[i] = std::min(gain[i], gain[i - 1] + (1.0 - gain[i - 1]) * release);
    double deepest = 1.0, sum = 0;
    std::vector<double> smooth(x.size());
    for (std::size_t i = 0; i < x.size() + ahead; ++i) {  // centred moving average over 2 * ahead + 1
        sum += i < x.size() ? gain[i] : 1.0;
        if (i >= 2 * ahead + 1)
            sum -= gain[i - 2 * ahead - 1];
        if (i >= ahead)
            smooth[i - ahead] = (sum + double(i < 2 * ahead ? 2 * ahead - i : 0)) / double(2 * ahead + 1);
    }
    for (std::size_t i = 0; i < x.size(); ++i) {
        x[i] = float(x[i] * smooth[i]);
        deepest = std::min(deepest, smooth[i]);
    }
    return -20.0 * std::log10(deepest) + 0.0;
}

bool writeMp3(const std::filesystem::path &path, const std::vector<float> &pcm)
{
    lame_global_flags *lame = lame_init();
    if (!lame)
        return false;
    lame_set_in_samplerate(lame, kRate);
    lame_set_out_samplerate(lame, kRate);
    lame_set_num_channels(lame, 1);
    lame_set_mode(lame, MONO);
    lame_set_VBR(lame, vbr_off);
    lame_set_brate(lame, 112);
    lame_set_quality(lame, 3);
    lame_set_bWriteVbrTag(lame, 1);  // the LAME tag lets decoders drop the padding
    lame_set_write_id3tag_automatic(lame, 0);
    if (lame_init_params(lame) < 0) {
        lame_close(lame);
        return false;
    }

    std::vector<unsigned char> mp3;
    constexpr int chunk = 8192;
    std::vector<unsigned char> buffer(chunk + chunk / 4 + 7200);
    bool ok = true;
    for (std::size_t at = 0; ok && at < pcm.size(); at += chunk) {
        const int n = int(std::min<std::size_t>(chunk, pcm.size() - at));
        const int bytes = lame_encode_buffer_ieee_float(lame, pcm.data() + at, pcm.data() + at, n,
                                                        buffer.data(), int(buffer.size()));
        ok = bytes >= 0;
        if (ok)
            mp3.insert(mp3.end(), buffer.begin(), buffer.begin() + bytes);
    }
    if (ok) {
        const int bytes = lame_encode_flush(lame, buffer.data(), int(buffer.size()));
        ok = bytes >= 0;
        if (ok)
            mp3.insert(mp3.end(), buffer.begin(), buffer.begin() + bytes);
    }
    if (ok) {
        // The first frame was kept free for the tag; fill it in now.
        std::array<unsigned char, 2880> tag{};
        const std::size_t size = lame_get_lametag_frame(lame, tag.data(), tag.size());
        ok = size > 0 && size <= tag.size() && size <= mp3.size();
        if (ok)
            std::copy_n(tag.begin(), size, mp3.begin());
    }
    lame_close(lame);
    if (!ok)
        return false;

    // Write beside the target and rename, so that a failed run leaves no half file.
    std::filesystem::path temporary = path;
    temporary += ".part";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char *>(mp3.data()), std::streamsize(mp3.size()));
        if (!file)
            return false;
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    return !error;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3 || (argc == 3 && std::string_view(argv[2]) != "--verbose")) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR [--verbose]\n", argv[0]);
        return 2;
    }
    const std::filesystem::path outputDir = argv[1];
    const bool verbose = argc == 3;
    std::error_code error;
    std::filesystem::create_directories(outputDir, error);

    // Quarter bells 1-4 (G#4 F#4 E4 B3) and the hour bell (E3).
    const std::array<Bell, 5> bells = {{
        {noteFrequency(68), 1.00},
        {noteFrequency(66), 1.00},
        {noteFrequency(64), 1.05},
        {noteFrequency(59), 1.15},
        {noteFrequency(52), 1.00},
    }};

    std::vector<Recording> recordings;
    recordings.push_back(quarters("Carill1", {2, 3, 4, 5}, 17.5));
    recordings.push_back(quarters("Carill2", {1}, 9.4));
    recordings.push_back(quarters("Carill3", {2, 3}, 9.4));
    recordings.push_back(quarters("Carill4", {4, 5, 1}, 9.4));
    for (int n = 1; n <= 12; ++n)
        recordings.push_back(hours(n));

    std::vector<Mixed> mixed;
    for (std::size_t k = 0; k < recordings.size(); ++k) {
        std::string problem;
        mixed.push_back(mix(recordings[k], bells, 0xC4A1 + k, problem));
        if (!problem.empty()) {
            std::fprintf(stderr, "tintarel_bellsynth: %s\n", problem.c_str());
            return 1;
        }
    }

    // Equal loudness to the ear, the hours a shade above the quarters so that
    // they are never heard as quieter. A single strike's first milliseconds
    // peak far above its ring, so they are held under a limit that leaves room
    // for what the encoder adds to the true peak.
    constexpr double kQuarterLufs = -18.6, kHourLufs = -18.2, kPeakLimit = -2.0;
    for (std::size_t k = 0; k < recordings.size(); ++k) {
        // The gates make loudness not quite proportional to the gain: a few rounds.
        const std::vector<float> unscaled = std::move(mixed[k].pcm);
        const double target = recordings[k].hour ? kHourLufs : kQuarterLufs;
        std::vector<float> pcm;
        double gain = std::pow(10.0, (target - loudness::integrated(loudness::blockPowers(unscaled, kRate))) / 20.0);
        double limited = 0.0;
        for (int round = 0; round < 4; ++round) {
            pcm = unscaled;
            for (float &s : pcm)
                s = float(s * gain);
            limited = limitPeaks(pcm, std::pow(10.0, kPeakLimit / 20.0));
            const double level = loudness::integrated(loudness::blockPowers(pcm, kRate));
            gain *= std::pow(10.0, (target - level) / 20.0);
        }
        const std::filesystem::path path = outputDir / (recordings[k].name + ".mp3");
        if (!writeMp3(path, pcm)) {
            std::fprintf(stderr, "tintarel_bellsynth: cannot write %s\n", path.c_str());
            return 1;
        }
        if (verbose)
            std::printf("%-10s %5.2f s %6.2f LUFS %5.2f dBTP (limited %3.1f dB)  ring-out +%3.1f dB/s, "
                        "fade %4.2f s after the last strike at -%4.1f LU\n",
                        recordings[k].name.c_str(), double(pcm.size()) / kRate,
                        loudness::integrated(loudness::blockPowers(pcm, kRate)),
                        20 * std::log10(loudness::truePeak(pcm)), limited, mixed[k].ringOut, mixed[k].fadeStart,
                        mixed[k].fadeLevel);
    }
    return 0;
}
