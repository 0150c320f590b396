// Tintarel's bell synthesiser: writes the sixteen chime recordings at build time.
//
// Bell model. A struck church bell rings as a sum of exponentially decaying
// sine partials at fixed ratios to its strike note (the "prime"): the hum an
// octave below (0.5), the prime (1), the minor-third tierce (1.19), the quint
// (1.5), the nominal an octave above (2), and the upper partials (deciem 2.5,
// undeciem 2.67, duodeciem 3, upper octave 4 and a few inharmonic ones above,
// which make the metallic clang of the strike). No bell is perfectly round, so
// every partial is a pair of modes a fraction of a hertz to a few hertz apart,
// the second one weaker; the pair beats, which gives the slow wavering of a
// real bell. Low partials ring longest (the hum lingers after everything else
// has died away), high ones die within a fraction of a second, and a bigger
// (lower) bell rings longer than a small one. The clapper's impact is a soft,
// band-passed noise burst of a few milliseconds, and every partial starts with
// a 1.5 ms ramp so that the strike does not click. Each bell is rendered once
// and every strike adds a copy of it, scaled by a slightly varying force.
//
// The recordings: Carill2, Carill3, Carill4 and Carill1 play one, two, three
// and four changes of the Westminster quarters on four bells G#4 F#4 E4 B3
// (three equal notes 0.5 s apart, the fourth held 1 s); CarillH<n> strikes a
// deep E3 hour bell n times, 2.6 s apart. Each file ends in a faded tail, all
// sixteen have the same RMS over their sounding part (10 ms frames at or above
// -40 dBFS) and peak at most -2.5 dBFS before encoding. Everything is
// deterministic: the noise comes from a fixed-seed generator of our own.
//
// Usage: tintarel_bellsynth OUTPUT_DIR [--verbose]
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

constexpr std::array<Partial, 14> kPartials = {{
    {0.500, 0.55, 10.0, 0.45, 0.40},  // hum
    {1.000, 0.50, 6.5, 0.80, 0.35},   // prime (strike note)
    {1.190, 0.50, 4.5, 1.30, 0.35},   // tierce
    {1.500, 0.20, 3.2, 1.90, 0.30},   // quint
    {2.000, 1.00, 3.4, 1.10, 0.35},   // nominal
    {2.510, 0.40, 2.0, 2.70, 0.30},   // deciem
    {2.670, 0.22, 1.6, 3.30, 0.30},   // undeciem
    {3.010, 0.25, 1.3, 3.90, 0.30},   // duodeciem
    {4.020, 0.18, 0.9, 4.70, 0.30},   // upper octave
    {5.040, 0.13, 0.50, 5.3, 0.30},   // upper, inharmonic
    {5.930, 0.10, 0.38, 6.1, 0.30},
    {6.740, 0.08, 0.28, 7.0, 0.30},
    {8.150, 0.06, 0.20, 8.2, 0.30},
    {9.620, 0.04, 0.15, 9.5, 0.30},
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
    double note;         // strike note, Hz
    double level;        // loudness relative to the other bells
    std::uint64_t seed;  // phases and strike noise
};

// One strike of a bell, until it has died away (at most maxSeconds).
std::vector<double> renderBell(const Bell &bell, double maxSeconds)
{
    Random random(bell.seed);
    const double size = kReferenceNote / bell.note;  // > 1 for a bigger bell
    const double decayScale = std::pow(size, 0.7);

    struct Mode {
        std::complex<double> z, w;
    };
    std::vector<Mode> modes;
    double longest = 0.0;
    for (const Partial &p : kPartials) {
        const double f = bell.note * p.ratio;
        if (f > 0.4 * kRate)
            continue;
        const double t60 = p.t60 * decayScale;
        const double amp = p.amp * (p.ratio < 0.75 ? std::pow(size, 0.25) : 1.0);
        const auto mode = [&](double freq, double a, double t) {
            const double perSample = std::pow(1e-3, 1.0 / (t * kRate));
            modes.push_back({std::polar(a, 2 * kPi * random.uniform()),
                             std::polar(perSample, 2 * kPi * freq / kRate)});
            longest = std::max(longest, t * std::log10(a / 1e-6) / 3.0);
        };
        mode(f, amp, t60);
        mode(f + p.beatHz, amp * p.twinAmp, t60 * 0.85);
    }

    const std::size_t length = std::size_t(std::min(longest, maxSeconds) * kRate);
    std::vector<double> out(length, 0.0);
    for (Mode &m : modes) {
        for (std::size_t i = 0; i < length; ++i) {
            out[i] += m.z.imag();
            m.z *= m.w;
        }
    }

    // Soft attack against a click.
    const std::size_t attack = std::size_t(0.0015 * kRate);
    for (std::size_t i = 0; i < std::min(attack, length); ++i)
        out[i] *= 0.5 - 0.5 * std::cos(kPi * double(i) / double(attack));

    // The clapper's impact: noise through a resonant band-pass (RBJ biquad).
    const double centre = std::min(3200.0, 7.0 * bell.note);
    const double q = 0.9;
    const double omega = 2 * kPi * centre / kRate;
    const double alpha = std::sin(omega) / (2 * q);
    const double a0 = 1 + alpha;
    const double b0 = alpha / a0, b2 = -alpha / a0;
    const double a1 = -2 * std::cos(omega) / a0, a2 = (1 - alpha) / a0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    const std::size_t burst = std::min(length, std::size_t(0.08 * kRate));
    for (std::size_t i = 0; i < burst; ++i) {
        const double t = double(i) / kRate;
        const double env = (1 - std::exp(-t / 0.0006)) * std::exp(-t / 0.009);
        const double x = random.symmetric() * env;
        const double y = b0 * x + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        out[i] += 1.1 * y;
    }

    for (double &s : out)
        s *= bell.level;
    return out;
}

struct Strike {
    int bell;       // index into the bells
    double onset;   // seconds
};

struct Recording {
    std::string name;
    std::vector<Strike> strikes;
    double length;  // seconds, including the tail
};

// The Westminster quarters, bells 1=G#4 2=F#4 3=E4 4=B3.
constexpr std::array<std::array<int, 4>, 5> kChanges = {{
    {3, 2, 1, 4},
    {1, 3, 2, 4},
    {1, 2, 3, 1},
    {3, 1, 2, 4},
    {4, 2, 1, 3},
}};

constexpr double kLeadIn = 0.05;        // silence before the first strike
constexpr double kNoteSpacing = 0.5;    // three equal notes...
constexpr double kChangeSpacing = 2.5;  // ...and a fourth held twice as long
constexpr double kHourSpacing = 2.6;    // between strikes of the hour bell
constexpr double kHourTail = 6.2;       // after the last strike of the hour bell
constexpr int kHourBell = 4;            // index of the hour bell

Recording quarters(std::string name, std::initializer_list<int> changes, double length)
{
    Recording r{std::move(name), {}, length};
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
    Recording r{"CarillH" + std::to_string(n), {}, 0.0};
    for (int k = 0; k < n; ++k)
        r.strikes.push_back({kHourBell, kLeadIn + k * kHourSpacing});
    r.length = kLeadIn + (n - 1) * kHourSpacing + kHourTail;
    return r;
}

std::vector<float> mix(const Recording &r, const std::vector<std::vector<double>> &bells,
                       std::uint64_t seed)
{
    Random random(seed);
    const std::size_t length = std::size_t(std::lround(r.length * kRate));
    std::vector<double> out(length, 0.0);
    double lastOnset = 0;
    for (const Strike &s : r.strikes) {
        const double force = 1.0 + 0.04 * random.symmetric();
        const std::size_t at = std::size_t(std::lround(s.onset * kRate));
        const std::vector<double> &bell = bells[s.bell];
        for (std::size_t i = 0; i < bell.size() && at + i < length; ++i)
            out[at + i] += force * bell[i];
        lastOnset = std::max(lastOnset, s.onset);
    }
    // Fade the tail out with a half cosine so that the file ends in silence.
    const double fade = std::min(2.0, 0.6 * (r.length - lastOnset));
    const std::size_t fadeStart = length - std::size_t(fade * kRate);
    for (std::size_t i = fadeStart; i < length; ++i) {
        const double x = double(i - fadeStart) / double(length - 1 - fadeStart);
        out[i] *= 0.5 + 0.5 * std::cos(kPi * x);
    }
    return {out.begin(), out.end()};
}

// RMS over the sounding part: the 10 ms frames whose own RMS is at least -40 dBFS.
double soundingRms(const std::vector<float> &x, double gain)
{
    constexpr std::size_t frame = kRate / 100;
    const double threshold = std::pow(10.0, -40.0 / 20.0);
    double sum = 0;
    std::size_t count = 0;
    for (std::size_t start = 0; start + frame <= x.size(); start += frame) {
        double e = 0;
        for (std::size_t i = start; i < start + frame; ++i)
            e += double(x[i]) * x[i];
        e *= gain * gain;
        if (std::sqrt(e / frame) >= threshold) {
            sum += e;
            count += frame;
        }
    }
    return count ? std::sqrt(sum / double(count)) : 0.0;
}

double peakOf(const std::vector<float> &x)
{
    double p = 0;
    for (float s : x)
        p = std::max(p, double(std::fabs(s)));
    return p;
}

// Gains giving every recording the same sounding RMS, as loud as the peak limit allows.
std::vector<double> normalisingGains(const std::vector<std::vector<float>> &signals, double peakLimit)
{
    double target = std::pow(10.0, -16.0 / 20.0);
    std::vector<double> gains(signals.size(), 1.0);
    for (int round = 0; round < 8; ++round) {
        double worst = 0;
        for (std::size_t k = 0; k < signals.size(); ++k) {
            double &g = gains[k];
            for (int i = 0; i < 6; ++i)  // the sounding part moves with the gain
                g *= target / soundingRms(signals[k], g);
            worst = std::max(worst, g * peakOf(signals[k]));
        }
        if (worst <= peakLimit * 1.0001)
            break;
        target *= peakLimit / worst;
    }
    return gains;
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
    const std::array<Bell, 5> bellSpecs = {{
        {noteFrequency(68), 1.00, 0x7131},
        {noteFrequency(66), 1.00, 0x7132},
        {noteFrequency(64), 1.05, 0x7133},
        {noteFrequency(59), 1.15, 0x7134},
        {noteFrequency(52), 1.00, 0x71E3},
    }};
    std::vector<std::vector<double>> bells;
    for (const Bell &b : bellSpecs)
        bells.push_back(renderBell(b, 40.0));

    std::vector<Recording> recordings;
    recordings.push_back(quarters("Carill1", {2, 3, 4, 5}, 14.5));
    recordings.push_back(quarters("Carill2", {1}, 7.6));
    recordings.push_back(quarters("Carill3", {2, 3}, 8.4));
    recordings.push_back(quarters("Carill4", {4, 5, 1}, 9.2));
    for (int n = 1; n <= 12; ++n)
        recordings.push_back(hours(n));

    std::vector<std::vector<float>> signals;
    for (std::size_t k = 0; k < recordings.size(); ++k)
        signals.push_back(mix(recordings[k], bells, 0xC4A1 + k));

    const double peakLimit = std::pow(10.0, -2.5 / 20.0);
    const std::vector<double> gains = normalisingGains(signals, peakLimit);

    for (std::size_t k = 0; k < recordings.size(); ++k) {
        std::vector<float> &pcm = signals[k];
        for (float &s : pcm)
            s = float(s * gains[k]);
        const std::filesystem::path path = outputDir / (recordings[k].name + ".mp3");
        if (!writeMp3(path, pcm)) {
            std::fprintf(stderr, "tintarel_bellsynth: cannot write %s\n", path.c_str());
            return 1;
        }
        if (verbose)
            std::printf("%-10s %6.2f s  rms %6.2f dBFS  peak %6.2f dBFS\n",
                        recordings[k].name.c_str(), double(pcm.size()) / kRate,
                        20 * std::log10(soundingRms(pcm, 1.0)), 20 * std::log10(peakOf(pcm)));
    }
    return 0;
}
