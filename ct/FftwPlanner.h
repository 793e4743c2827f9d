#pragma once

#include <fftw3.h>

#include <cstddef>
#include <mutex>

// FFTW's planner keeps global state: making or destroying plans on two threads
// at once corrupts it. Every plan of the program is made and destroyed here,
// under one process-wide lock. Executing a plan needs no lock.
class FftwPlanner
{
public:
    static fftw_plan planDft1d(int n, fftw_complex *in, fftw_complex *out, int sign,
                               unsigned flags);
    static fftw_plan planDft2d(int n0, int n1, fftw_complex *in, fftw_complex *out, int sign,
                               unsigned flags);
    static fftw_plan planDftR2c1d(int n, double *in, fftw_complex *out, unsigned flags);
    static fftw_plan planDftC2r1d(int n, fftw_complex *in, double *out, unsigned flags);
    static void destroyPlan(fftw_plan plan);
    // Single precision has a planner of its own in FFTW; the same lock guards it,
    // which costs nothing as plans are made once per run.
    static fftwf_plan planDftR2c1d(int n, float *in, fftwf_complex *out, unsigned flags);
    static fftwf_plan planDftC2r1d(int n, fftwf_complex *in, float *out, unsigned flags);
    static void destroyPlan(fftwf_plan plan);

private:
    static std::mutex &mutex();
};

// A plan destroyed through the planner lock when it goes.
class FftwPlan
{
public:
    FftwPlan() = default;
    explicit FftwPlan(fftw_plan p)
        : plan(p)
    {
    }
    ~FftwPlan() { reset(); }
    FftwPlan(const FftwPlan &) = delete;
    FftwPlan &operator=(const FftwPlan &) = delete;
    FftwPlan(FftwPlan &&other) noexcept
        : plan(other.plan)
    {
        other.plan = nullptr;
    }
    FftwPlan &operator=(FftwPlan &&other) noexcept
    {
        if (this != &other) {
            reset();
            plan = other.plan;
            other.plan = nullptr;
        }
        return *this;
    }

    void reset(fftw_plan p = nullptr)
    {
        if (plan)
            FftwPlanner::destroyPlan(plan);
        plan = p;
    }
    fftw_plan get() const { return plan; }
    explicit operator bool() const { return plan != nullptr; }
    void execute() const { fftw_execute(plan); }

private:
    fftw_plan plan = nullptr;
};

// A single-precision plan destroyed through the planner lock when it goes.
class FftwPlanSingle
{
public:
    FftwPlanSingle() = default;
    ~FftwPlanSingle() { reset(); }
    FftwPlanSingle(const FftwPlanSingle &) = delete;
    FftwPlanSingle &operator=(const FftwPlanSingle &) = delete;

    void reset(fftwf_plan p = nullptr)
    {
        if (plan)
            FftwPlanner::destroyPlan(plan);
        plan = p;
    }
    explicit operator bool() const { return plan != nullptr; }
    void execute() const { fftwf_execute(plan); }

private:
    fftwf_plan plan = nullptr;
};

// A buffer from fftw_malloc (aligned as FFTW's SIMD code wants), freed when it goes.
// T is double, fftw_complex, float or fftwf_complex.
template<typename T>
class FftwBuffer
{
public:
    FftwBuffer() = default;
    explicit FftwBuffer(size_t count) { allocate(count); }
    ~FftwBuffer() { release(); }
    FftwBuffer(const FftwBuffer &) = delete;
    FftwBuffer &operator=(const FftwBuffer &) = delete;
    FftwBuffer(FftwBuffer &&other) noexcept
        : ptr(other.ptr)
        , n(other.n)
    {
        other.ptr = nullptr;
        other.n = 0;
    }
    FftwBuffer &operator=(FftwBuffer &&other) noexcept
    {
        if (this != &other) {
            release();
            ptr = other.ptr;
            n = other.n;
            other.ptr = nullptr;
            other.n = 0;
        }
        return *this;
    }

    // Zero-filled; false (and empty) when the memory is not there.
    bool allocate(size_t count)
    {
        release();
        if (count == 0)
            return true;
        ptr = static_cast<T *>(fftw_malloc(sizeof(T) * count));
        if (!ptr)
            return false;
        n = count;
        for (size_t i = 0; i < count; ++i)
            zero(ptr[i]);
        return true;
    }
    void release()
    {
        if (ptr)
            fftw_free(ptr);
        ptr = nullptr;
        n = 0;
    }
    T *data() const { return ptr; }
    size_t size() const { return n; }
    T &operator[](size_t i) const { return ptr[i]; }

private:
    static void zero(double &v) { v = 0.0; }
    static void zero(fftw_complex &v)
    {
        v[0] = 0.0;
        v[1] = 0.0;
    }
    static void zero(float &v) { v = 0.0f; }
    static void zero(fftwf_complex &v)
    {
        v[0] = 0.0f;
        v[1] = 0.0f;
    }
    T *ptr = nullptr;
    size_t n = 0;
};
