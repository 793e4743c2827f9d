#pragma once

#include <QElapsedTimer>

#include <algorithm>
#include <functional>
#include <vector>

// The median wall time in seconds of `runs` calls of `work`.
inline double medianSeconds(int runs, const std::function<void()> &work)
{
    std::vector<double> t;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer timer;
        timer.start();
        work();
        t.push_back(timer.nsecsElapsed() * 1e-9);
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}
