#include "FftwPlanner.h"

std::mutex &FftwPlanner::mutex()
{
    static std::mutex planLock;
    return planLock;
}

fftw_plan FftwPlanner::planDft1d(int n, fftw_complex *in, fftw_complex *out, int sign,
                                 unsigned flags)
{
    if (n < 1)
        return nullptr;
    std::lock_guard<std::mutex> lock(mutex());
    return fftw_plan_dft_1d(n, in, out, sign, flags);
}

fftw_plan FftwPlanner::planDft2d(int n0, int n1, fftw_complex *in, fftw_complex *out, int sign,
                                 unsigned flags)
{
    if (n0 < 1 || n1 < 1)
        return nullptr;
    std::lock_guard<std::mutex> lock(mutex());
    return fftw_plan_dft_2d(n0, n1, in, out, sign, flags);
}

fftw_plan FftwPlanner::planDftR2c1d(int n, double *in, fftw_complex *out, unsigned flags)
{
    if (n < 1)
        return nullptr;
    std::lock_guard<std::mutex> lock(mutex());
    return fftw_plan_dft_r2c_1d(n, in, out, flags);
}

fftw_plan FftwPlanner::planDftC2r1d(int n, fftw_complex *in, double *out, unsigned flags)
{
    if (n < 1)
        return nullptr;
    std::lock_guard<std::mutex> lock(mutex());
    return fftw_plan_dft_c2r_1d(n, in, out, flags);
}

void FftwPlanner::destroyPlan(fftw_plan plan)
{
    if (!plan)
        return;
    std::lock_guard<std::mutex> lock(mutex());
    fftw_destroy_plan(plan);
}

fftwf_plan FftwPlanner::planDftR2c1d(int n, float *in, fftwf_complex *out, unsigned flags)
{
    if (n < 1)
        return nullptr;
    std::lock_guard<std::mutex> lock(mutex());
    return fftwf_plan_dft_r2c_1d(n, in, out, flags);
}

fftwf_plan FftwPlanner::planDftC2r1d(int n, fftwf_complex *in, float *out, unsigned flags)
{
    if (n < 1)
        return nullptr;
    std::lock_guard<std::mutex> lock(mutex());
    return fftwf_plan_dft_c2r_1d(n, in, out, flags);
}

void FftwPlanner::destroyPlan(fftwf_plan plan)
{
    if (!plan)
        return;
    std::lock_guard<std::mutex> lock(mutex());
    fftwf_destroy_plan(plan);
}
