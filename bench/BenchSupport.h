#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QList>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <random>
#include <vector>

// Helpers shared by the benchmarks: test signals, figures, and the run itself.

// Gaussian noise of standard deviation 0.3, the same for the same seed.
inline QList<float> noise(qsizetype count, unsigned seed)
{
    std::mt19937 generator(seed);
    std::normal_distribution<float> normal(0.0f, 0.3f);
    QList<float> samples(count);
    for (float &s : samples)
        s = normal(generator);
    return samples;
}

inline double percentile(std::vector<double> values, double p)
{
    std::sort(values.begin(), values.end());
    return values[std::min(std::size_t(p * double(values.size() - 1) + 0.5), values.size() - 1)];
}

// Times each iteration of `step` by hand (for UseManualTime) and reports the median, the 95th and
// the 99th percentile in microseconds as "median_us", "p95_us" and "p99_us".
template<typename Step>
void timeEachIteration(benchmark::State &state, Step step)
{
    std::vector<double> us;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        step();
        const double seconds
                = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        us.push_back(seconds * 1e6);
    }
    state.counters["median_us"] = percentile(us, 0.5);
    state.counters["p95_us"] = percentile(us, 0.95);
    state.counters["p99_us"] = percentile(us, 0.99);
}

// Reports the mean time of one of `items` per iteration as "ns_per_frame", with items per second.
inline void reportPerFrame(benchmark::State &state, qint64 items)
{
    state.SetItemsProcessed(state.iterations() * items);
    state.counters["ns_per_frame"]
            = benchmark::Counter(double(state.iterations() * items),
                                 benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

inline int runBenchmarks(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// A home folder of its own for the run, for code that reads or writes the user's settings;
// made before the application object, removed at the end.
class OwnHome
{
public:
    OwnHome()
    {
        qputenv("HOME", home_.path().toLocal8Bit());
        qunsetenv("XDG_CONFIG_HOME");
    }

private:
    QTemporaryDir home_{QDir::tempPath() + QStringLiteral("/snt-bench-XXXXXX")};
};

// The benchmarks run in a home of their own. `prepare` runs once the application object exists
// (to name it, or to give it a sound card).
inline int runBenchmarksInOwnHome(int argc, char **argv, const std::function<void()> &prepare = {})
{
    const OwnHome home;
    QCoreApplication app(argc, argv);
    if (prepare)
        prepare();
    return runBenchmarks(argc, argv);
}
