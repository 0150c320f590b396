// Loudness as the ear weighs it, and peaks as a converter reconstructs them,
// measured the broadcast way (EBU R128 on ITU-R BS.1770): the signal passes a
// K-weighting filter (a high shelf of +4 dB above ~1.7 kHz for the head, then
// a high-pass at ~38 Hz), its mean square is taken over 400 ms blocks every
// 100 ms, and the integrated loudness is the mean over the blocks that pass an
// absolute gate at -70 LUFS and a relative gate 10 LU below the mean of those.
// True peak is the sample peak of the signal interpolated four times.
// Shared by the bell synthesiser, which normalises on it, and its test.
#pragma once

#include <algorithm>
#include <cmath>
#include <numbers>
#include <span>
#include <vector>

namespace loudness {

// Loudness in LUFS of a K-weighted mean square.
inline double lufs(double meanSquare) { return -0.691 + 10.0 * std::log10(std::max(meanSquare, 1e-30)); }

// K-weighted mean squares of the 400 ms blocks starting every 100 ms.
inline std::vector<double> blockPowers(std::span<const float> x, int rate)
{
    struct Biquad {
        double b0, b1, b2, a1, a2, z1 = 0, z2 = 0;
        double operator()(double in)
        {
            const double out = b0 * in + z1;
            z1 = b1 * in - a1 * out + z2;
            z2 = b2 * in - a2 * out;
            return out;
        }
    };
    // Both stages by the bilinear transform of their analogue prototypes,
    // which gives the standard's 48 kHz coefficients at 48 kHz.
    double k = std::tan(std::numbers::pi * 1681.974450955533 / rate);
    double q = 0.7071752369554196;
    const double vh = std::pow(10.0, 3.999843853973347 / 20.0), vb = std::pow(vh, 0.4996667741545416);
    double a0 = 1.0 + k / q + k * k;
    Biquad shelf{(vh + vb * k / q + k * k) / a0, 2.0 * (k * k - vh) / a0, (vh - vb * k / q + k * k) / a0,
                 2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
    k = std::tan(std::numbers::pi * 38.13547087602444 / rate);
    q = 0.5003270373238773;
    a0 = 1.0 + k / q + k * k;
    Biquad highPass{1.0, -2.0, 1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};

    const std::size_t step = std::size_t(rate) / 10;
    std::vector<double> steps;  // sum of squares of each 100 ms step
    double sum = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double y = highPass(shelf(x[i]));
        sum += y * y;
        if ((i + 1) % step == 0) {
            steps.push_back(sum);
            sum = 0;
        }
    }
    std::vector<double> blocks;
    for (std::size_t i = 0; i + 4 <= steps.size(); ++i)
        blocks.push_back((steps[i] + steps[i + 1] + steps[i + 2] + steps[i + 3]) / double(4 * step));
    return blocks;
}

// Integrated loudness in LUFS.
inline double integrated(const std::vector<double> &blocks)
{
    const auto gatedMean = [&](double gate) {
        double sum = 0;
        int n = 0;
        for (double p : blocks)
            if (lufs(p) > gate) {
                sum += p;
                ++n;
            }
        return n ? sum / n : 0.0;
    };
    return lufs(gatedMean(lufs(gatedMean(-70.0)) - 10.0));
}

// True peak, linear: the sample peak after four-times oversampling by a
// Hann-windowed sinc of 12 taps a phase.
inline double truePeak(std::span<const float> x)
{
    constexpr int taps = 12, phases = 4;
    double h[phases][taps];
    for (int p = 0; p < phases; ++p)
        for (int j = 0; j < taps; ++j) {
            const double t = j - taps / 2 + double(p) / phases;  // within (-6, 6)
            const double sinc = t == 0 ? 1.0 : std::sin(std::numbers::pi * t) / (std::numbers::pi * t);
            h[p][j] = sinc * (0.5 + 0.5 * std::cos(std::numbers::pi * t / (taps / 2)));
        }
    double peak = 0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        peak = std::max(peak, double(std::fabs(x[n])));
        for (int p = 1; p < phases; ++p) {
            double y = 0;
            for (int j = 0; j < taps; ++j) {
                const std::ptrdiff_t i = std::ptrdiff_t(n) + taps / 2 - j;
                if (i >= 0 && i < std::ptrdiff_t(x.size()))
                    y += h[p][j] * x[std::size_t(i)];
            }
            peak = std::max(peak, std::fabs(y));
        }
    }
    return peak;
}

} // namespace loudness
