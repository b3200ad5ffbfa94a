// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The main of the window's benchmarks: offscreen unless a platform is named,
// one QApplication, then Google Benchmark. `run` runs the benchmarks; a
// program that needs a rig or its own settings around them passes its own.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QByteArray>

#include <functional>

inline int RunWindowBenchmarks(int argc, char** argv,
                               const std::function<void()>& run = [] { benchmark::RunSpecifiedBenchmarks(); })
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    run();
    benchmark::Shutdown();
    return 0;
}
