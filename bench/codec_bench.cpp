// Time per call of the codec's busiest functions on the largest frames, and the number of heap
// allocations they make, which must be 0: a benchmark that sees one fails, and so does the run.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "allocation_counter.h"
#include "v640.h"

namespace {

// 270 characters: with code "10" and node framing the frame has the largest size, 278.
std::string largestParameter()
{
    std::string parameter;
    for (int i = 0; i < 270; ++i) {
        parameter += static_cast<char>('A' + i % 26);
    }
    return parameter;
}

struct Frame
{
    char bytes[V640_MAX_FRAME_SIZE + 1];
};

Frame copied(const char *built)
{
    if (built == nullptr || v640_frame_size(built) != V640_MAX_FRAME_SIZE) {
        std::fprintf(stderr, "codec_bench: the largest frame did not build\n");
        std::exit(1);
    }
    Frame frame;
    std::memcpy(frame.bytes, built, sizeof frame.bytes);
    return frame;
}

const std::string parameter = largestParameter();
const Frame largestCommand = copied(v640_build_command_frame(1, 0x10, parameter.c_str()));
const Frame largestResponse = copied(v640_build_response_frame(1, 0x00, parameter.c_str()));

// Counts the allocations between its creation and report(); any at all fail the benchmark.
class AllocationCheck
{
public:
    AllocationCheck() : before(allocation_count()) {}

    void report(benchmark::State &state) const
    {
        const unsigned long allocations = allocation_count() - before;
        state.counters["allocations"] = static_cast<double>(allocations);
        if (allocations != 0) {
            state.SkipWithError("the codec allocated from the heap");
        }
    }

private:
    unsigned long before;
};

void validateLargestFrame(benchmark::State &state)
{
    Frame frame = largestCommand;
    const AllocationCheck check;
    for (auto _ : state) {
        benchmark::DoNotOptimize(frame);
        benchmark::DoNotOptimize(v640_frame_size(frame.bytes));
    }
    check.report(state);
}
BENCHMARK(validateLargestFrame);

void commandCodeAndParameter(benchmark::State &state)
{
    Frame frame = largestCommand;
    const AllocationCheck check;
    for (auto _ : state) {
        benchmark::DoNotOptimize(frame);
        int length = 0;
        benchmark::DoNotOptimize(v640_get_command_code(frame.bytes));
        benchmark::DoNotOptimize(v640_get_command_parameter(frame.bytes, &length));
        benchmark::DoNotOptimize(length);
    }
    check.report(state);
}
BENCHMARK(commandCodeAndParameter);

void responseCodeAndParameter(benchmark::State &state)
{
    Frame frame = largestResponse;
    const AllocationCheck check;
    for (auto _ : state) {
        benchmark::DoNotOptimize(frame);
        int length = 0;
        benchmark::DoNotOptimize(v640_get_response_code(frame.bytes));
        benchmark::DoNotOptimize(v640_get_response_parameter(frame.bytes, &length));
        benchmark::DoNotOptimize(length);
    }
    check.report(state);
}
BENCHMARK(responseCodeAndParameter);

void buildLargestCommandFrame(benchmark::State &state)
{
    const AllocationCheck check;
    for (auto _ : state) {
        benchmark::DoNotOptimize(v640_build_command_frame(1, 0x10, parameter.c_str()));
    }
    check.report(state);
}
BENCHMARK(buildLargestCommandFrame);

// Lets the run fail when a benchmark reported an error.
class FailureCountingReporter : public benchmark::ConsoleReporter
{
public:
    FailureCountingReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            failures += run.error_occurred ? 1 : 0;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    int failures = 0;
};

// A count of 0 means something only if the counter sees allocations at all.
bool counterSeesAllocations()
{
    const unsigned long before = allocation_count();
    void *block = std::malloc(64);
    benchmark::DoNotOptimize(block);
    std::free(block);
    auto *text = new std::string(100, 'x');
    benchmark::DoNotOptimize(text);
    delete text;
    return allocation_count() - before >= 2;
}

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    if (!counterSeesAllocations()) {
        std::fprintf(stderr, "codec_bench: the allocation counter does not see allocations\n");
        return 1;
    }
    FailureCountingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return reporter.failures == 0 ? 0 : 1;
}
