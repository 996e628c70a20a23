#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace zarv::radar {

using Complex = std::complex<double>;

// Doppler power spectra of a gate's complex series (ip + j qp, one value per
// record): Hann-windowed FFTs of a fixed number of points, averaged over
// consecutive blocks. Bin i lies at BinFrequency(i, ...); bin 0 is -1/(2T).
// Scaled so that the bins add up to the series' mean power (ip^2 + qp^2).
class DopplerSpectrum {
  public:
    // points: a power of two from 2 up. The FFT is planned once, here.
    explicit DopplerSpectrum(int points);
    ~DopplerSpectrum();
    DopplerSpectrum(const DopplerSpectrum&) = delete;
    DopplerSpectrum& operator=(const DopplerSpectrum&) = delete;

    int points() const { return points_; }
    // Averages the spectra of up to `blocks` blocks ending with the newest value
    // of series (oldest first). Returns the blocks used; 0 leaves power empty.
    int compute(const Complex* series, std::size_t count, int blocks, std::vector<double>& power);
    // The same from ip, qp pairs `stride` values apart, as records hold them.
    int compute(const std::int16_t* pairs, std::size_t count, std::size_t stride, int blocks,
                std::vector<double>& power);

    // One spectrum for each of `stretches` consecutive blocks from value `first`
    // of ip, qp pairs `stride` values apart; each scaled as a single block.
    void stretchSpectra(const std::int16_t* pairs, std::size_t stride, std::size_t first,
                        std::size_t stretches, std::vector<std::vector<double>>& spectra);

  private:
    template <typename ValueAt>
    void transform(ValueAt value_at, std::size_t at, double scale, std::vector<double>& power);
    template <typename ValueAt>
    int computeFrom(ValueAt value_at, std::size_t count, int blocks, std::vector<double>& power);

    int points_;
    std::vector<double> window_;
    double window_power_ = 0;  // the sum of the window's squares
    void* in_ = nullptr;       // fftw_complex arrays and plan, kept out of this header
    void* out_ = nullptr;
    void* plan_ = nullptr;
};

// (i - M/2) / (M T), in hertz, for record period T in seconds.
double BinFrequency(int bin, int points, double record_period_s);
bool IsPowerOfTwo(int n);

}  // namespace zarv::radar
