#pragma once

#include "CtFilter.h"
#include "FftwPlanner.h"

#include <vector>

// Filtered back projection of one slice: each sinogram row is ramp-filtered by
// an FFT of length N (by default unpadded; setFilter) and smeared back over an N x N image
// along its projection angle. Projection i is taken at i * pi / P, the P
// projections spanning 180 degrees. The result is the plain sum over all
// projections, with no further scaling, so results compare across versions.
//
// Buffers and plans are made once per (N, P) by setup() and reused for every
// slice. One object belongs to one thread at a time.
class CtFbp
{
public:
    CtFbp() = default;
    CtFbp(const CtFbp &) = delete;
    CtFbp &operator=(const CtFbp &) = delete;

    // The filter of the following slices (CtFilter): the window on the ramp and
    // whether rows are padded. The default, an unpadded plain ramp, is the
    // filter described above. A core already set up is set up again for the new
    // filter; false when that fails.
    bool setFilter(CtFilter::Window window, bool padded);
    CtFilter::Window filterWindow() const { return window; }
    bool filterPadded() const { return padded; }
    // The length of the transforms: N, or more with padding.
    int transformLength() const { return nTransform; }

    // The arithmetic of the following slices. Double, the default, is the path
    // described above. Single filters with single-precision transforms and keeps
    // the filtered rows, the interpolation and the sums in float32 (fused
    // multiply-adds where the processor has them), for about twice the speed:
    // its slices differ from the double ones far below the photon noise of a
    // measured voxel. The result is kept in float too (resultRow(z, buffer) gives
    // doubles for the files and the display), and an engine keeps its sinogram in
    // float (HSgm::singleSamples), so a core's buffers take about half the memory.
    // The stepwise path (fftRow, filterRow, backProject) follows the setting too;
    // filteredRow is the double path's. A core already set up is set up again for
    // the new precision; false when that fails.
    enum class Precision { Double, Single };
    bool setPrecision(Precision newPrecision);
    Precision precision() const { return arithmetic; }
    // "double", "single", in the order of Precision.
    static QStringList precisionNames();
    // False for a name not in precisionNames() (matched exactly).
    static bool precisionOf(const QString &name, Precision *value);
    static QString nameOf(Precision value);

    // The scan geometry of the following slices (ScanGeometry). Empty, the
    // default, is the even spread over 180 degrees described above, computed as
    // ever. Otherwise projection i lies at anglesDeg[i] degrees and its filtered
    // row is multiplied by weights[i]; sampleWeights, when given, multiply the
    // first N samples of every row before its transform (the overlap weighting of
    // a half acquisition). A core already set up takes the new angles at once;
    // setup refuses a geometry whose count is not its P.
    struct Geometry
    {
        std::vector<double> anglesDeg;
        std::vector<double> weights;
        std::vector<double> sampleWeights;
        bool isDefault() const { return anglesDeg.empty() && sampleWeights.empty(); }
    };
    bool setGeometry(Geometry newGeometry);
    const Geometry &geometry() const { return scan; }

    // Prepares buffers and plans for FFT length n and `count` projections.
    // n below 2 leaves nothing usable (there is no ramp filter) and returns false.
    bool setup(int n, int count);
    // The result becomes n rows of n zeros.
    void initResult(int n);
    // Forward FFT of the first N samples of a sinogram row, kept as spectrum i.
    void fftRow(const double *row, int i);
    // Ramp filter of spectrum i into filtered row i.
    void filterRow(int i);
    // Adds projection i to every result pixel of the region that lies strictly
    // inside the circle of radius N/2 around the centre (N/2, N/2). Pixels run
    // from trunc(x0) while x < x1 and likewise for z.
    void backProject(int i, double x0, double x1, double z0, double z1);
    // The same sums as backProject for i = 0 ... P - 1, bit for bit (same terms,
    // added in the same order), computed faster: the circle solved once per row,
    // the result in tiles of a few rows over which several projections pass at
    // a time, eight pixels per step where the processor has AVX-512 and four
    // where it has AVX2.
    void backProjectAll(double x0, double x1, double z0, double z1);
    // backProjectAll on each of `count` cores, the same sums bit for bit, up to
    // four slices at a time: for a pixel and a projection the detector position,
    // sample index and weight are shared by all slices of one geometry, so they
    // are computed once for the group. Cores set up for other sizes than the
    // first are back-projected alone.
    static void backProjectAll(CtFbp *const *cores, int count, double x0, double x1, double z0,
                               double z1);
    void calcMinMax();

    // Sinogram to slice in one go: fftRow, filterRow and backProjectAll over all
    // rows of `sgm` (rows of at least N + 1 samples, P rows), the same values bit
    // for bit, without keeping the spectra (a later filterRow sees those of the
    // last fftRow). False when the core is not set up for these sizes.
    bool reconstruct(const double *sgm, int sgmWidth, int rows, double x0, double x1, double z0,
                     double z1);
    // The same from a sinogram of floats, as single-precision engines keep it: in
    // single precision the same values bit for bit as the double sinogram rounded
    // to float (without sample weights), in double the floats taken exactly.
    bool reconstruct(const float *sgm, int sgmWidth, int rows, double x0, double x1, double z0,
                     double z1);
    // The first half of reconstruct: a zero result and the filtered rows of `sgm`,
    // ready for backProjectAll (alone or with the cores of other slices).
    bool filterSinogram(const double *sgm, int sgmWidth, int rows);
    bool filterSinogram(const float *sgm, int sgmWidth, int rows);

    int n() const { return nFft; }
    int count() const { return nProj; }
    bool resultValid() const { return valid; }
    double min() const { return minValue; }
    double max() const { return maxValue; }
    // The result is N rows of N values, result[z][x]. The double path keeps
    // doubles; single precision keeps floats (half the memory of the largest
    // buffer) and gives doubles where a file or the display needs them.
    int resultSize() const { return rn; }
    bool resultIsSingle() const { return singleResult; }
    // Row z as doubles, for either precision: the double path's row itself (no
    // copy), or the single path's row converted into `buffer` (N doubles) and
    // `buffer` returned.
    const double *resultRow(int z, double *buffer) const;
    double resultAt(int x, int z) const;
    // The whole result as doubles into `out` (N x N values), for a caller that
    // copies it anyway.
    void copyResult(double *out) const;
    // Rows as doubles one after the other (a picture, a text file): a callable
    // z -> const double * with a row buffer of its own for the single path. A row
    // stays valid until the next is asked for.
    class Rows
    {
    public:
        explicit Rows(const CtFbp &core);
        const double *operator()(int z) const { return core->resultRow(z, buffer.data()); }

    private:
        const CtFbp *core;
        mutable std::vector<double> buffer;
    };
    Rows rows() const { return Rows(*this); }
    // Row z of the double path's result (null when the result is single).
    const double *resultRow(int z) const
    {
        return result.empty() ? nullptr : result.data() + static_cast<size_t>(z) * rn;
    }
    double *resultRow(int z)
    {
        return result.empty() ? nullptr : result.data() + static_cast<size_t>(z) * rn;
    }
    // Row z of the single path's result (null when the result is double).
    const float *resultRowSingle(int z) const
    {
        return resultSingle.empty() ? nullptr : resultSingle.data() + static_cast<size_t>(z) * rn;
    }
    // The bytes of the core's buffers: FFT buffers, spectra, filtered rows, tables
    // and the result.
    size_t bufferBytes() const;
    const double *filteredRow(int i) const
    {
        return filteredBase + static_cast<size_t>(i) * filteredStride();
    }

    // The vector instructions backProjectAll uses: by default the widest this
    // processor has. Tests and the bench choose narrower ones to compare them;
    // the choice holds for the whole process. setSimd refuses a level the
    // processor lacks.
    enum class Simd { Auto, Scalar, Avx2, Avx512 };
    static bool simdSupported(Simd level);
    static bool setSimd(Simd level);
    static Simd simd();
    static const char *simdName(Simd level);

    // Clamps a region bound pair to the pixel range [from, to) within 0 ... n,
    // in floating point first so that huge or non-finite bounds cannot overflow.
    static void pixelRange(double a0, double a1, int n, int *from, int *to);

private:
    void release();
    // cosines and sines of the P projections: the geometry's angles, or i pi / P.
    void makeAngleTables(int count);
    // Multiplies filtered row i by its geometry weight (not for the default).
    void weightFilteredRow(int i);
    // Forward FFT of the first N samples of a row into forwardOut.
    void forward(const double *row);
    // Spectrum i of the stepwise path (fftRow, filterRow), the array made on
    // first use.
    double *spectrum(int i);
    // Ramp filter of a spectrum (N complex values, real and imaginary parts
    // interleaved) into filtered row i.
    void filterSpectrum(const double *s, int i);
    bool rowIndexOk(int i) const { return i >= 0 && i < nProj && nFft >= 2; }
    bool setupDouble(int n, int count, int length);
    bool setupSingle(int n, int count, int length);
    // The single-precision counterparts of forward, spectrum and filterSpectrum:
    // real transforms of length L, whose L / 2 + 1 bins are those of the complex
    // transform's real input.
    template<typename Sample>
    void forwardSingle(const Sample *row);
    // forward with the geometry's sample weights: the weighted row is padded.
    void forwardWeighted(const double *row);
    // The first N samples of a row times the geometry's sample weights.
    template<typename Sample>
    const double *weightedSamples(const Sample *row);
    template<typename Sample>
    bool filterSinogramSingle(const Sample *sgm, int sgmWidth, int rows);
    // The result is held as the core's precision asks and has its size.
    bool resultFits() const
    {
        return rn == nFft && singleResult == (arithmetic == Precision::Single);
    }
    float *spectrumSingle(int i);
    void filterSpectrumSingle(const fftwf_complex *s, int i);
    void backProjectSingle(int i, double x0, double x1, double z0, double z1);
    static void backProjectGroups(const std::vector<CtFbp *> &alike, double x0, double x1,
                                  double z0, double z1);
    size_t binsSingle() const { return static_cast<size_t>(nTransform) / 2 + 1; }
    size_t filteredStrideSingle() const;

    int nFft = 0;
    int nProj = 0;
    Geometry scan;
    CtFilter::Window window = CtFilter::Window::Ramp;
    bool padded = false;
    int nTransform = 0;
    // The filter's weight of every bin, in units of bins (CtFilter::weights).
    std::vector<double> binWeights;
    FftwBuffer<fftw_complex> forwardIn;
    FftwBuffer<fftw_complex> forwardOut;
    FftwBuffer<fftw_complex> inverseIn;
    FftwBuffer<fftw_complex> inverseOut;
    FftwPlan forwardPlan;
    FftwPlan inversePlan;
    static size_t nFftStride(int n) { return (static_cast<size_t>(n) + 16 + 7) / 8 * 8; }
    size_t filteredStride() const { return nFftStride(nFft); }

    // Spectra (of the stepwise path only) and filtered rows of all projections,
    // row after row.
    std::vector<double> spectra;
    std::vector<double> filtered;
    double *filteredBase = nullptr;  // filtered, from its first 64-byte boundary
    std::vector<double> cosines;     // cos(i pi / P)
    std::vector<double> sines;       // sin(i pi / P)
    std::vector<double> xOffsets;    // x - N / 2
    std::vector<double> weighted;    // a row times the sample weights
    std::vector<double> result;      // the double path's
    std::vector<float> resultSingle; // the single path's
    bool singleResult = false;
    int rn = 0;
    bool valid = false;
    double minValue = 0.0;
    double maxValue = 0.0;

    Precision arithmetic = Precision::Double;
    // The weight of each real-transform bin, with 2 pi / L and the inverse's 1 / L.
    std::vector<float> binWeightsSingle;
    FftwBuffer<float> realInSingle;
    FftwBuffer<fftwf_complex> forwardOutSingle;
    FftwBuffer<fftwf_complex> inverseInSingle;
    FftwBuffer<float> realOutSingle;
    FftwPlanSingle forwardPlanSingle;
    FftwPlanSingle inversePlanSingle;
    std::vector<float> spectraSingle;
    std::vector<float> filteredSingle;
    float *filteredSingleBase = nullptr; // filteredSingle, from its first 64-byte boundary
};
