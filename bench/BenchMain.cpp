// The benchmarks' entry: the engine measured with the heap the programs run with.

#include <benchmark/benchmark.h>

#include "platform/HugePages.h"

int main(int argc, char** argv)
{
    lumivex::UseHugePages(argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
