// The one main() of corvane_bench (every other bench/*.cpp only registers benchmarks). It runs the
// benchmarks with the console reporter and then prints, for every operation measured as a pair
// <Operation>/corvane and <Operation>/<peer>, our time over the peer's: below 1.0 we are faster.
// Where an operation runs with repetitions, the median is compared. Times are CPU times, except
// for benchmarks that measure wall-clock time (UseRealTime).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

struct Measurement {
    double seconds = 0;
    bool median = false;
};

// Groups runs by their name with the implementation part ("corvane", "openssl", ...) taken out.
class CRatioReporter final : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        benchmark::ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const bool median = run.run_type == Run::RT_Aggregate;
            if (median && run.aggregate_name != "median") continue;
            const std::string& function = run.run_name.function_name;
            const size_t slash = function.rfind('/');
            if (slash == std::string::npos) continue;
            benchmark::BenchmarkName key = run.run_name;
            key.function_name = function.substr(0, slash);
            key.repetitions.clear();
            const std::string implementation = function.substr(slash + 1);
            Measurement& m = m_results[key.str()][implementation];
            if (m.median && !median) continue;  // a median beats single repetitions
            // CPU time, which other load on the machine disturbs less, unless the benchmark asked for
            // wall-clock time.
            const bool realTime = run.run_name.time_type.find("real_time") != std::string::npos;
            const double time = realTime ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime();
            m.seconds = time / benchmark::GetTimeUnitMultiplier(run.time_unit);
            m.median = median;
        }
    }

    void PrintRatios() const {
        bool header = false;
        for (const auto& [operation, implementations] : m_results) {
            auto ours = implementations.find("corvane");
            if (ours == implementations.end()) continue;
            for (const auto& [peer, measurement] : implementations) {
                if (peer == "corvane" || measurement.seconds <= 0) continue;
                if (!header) {
                    std::printf("\nRatios, corvane time / peer time (below 1.0: corvane is faster)\n");
                    std::printf("%-40s %14s %14s %-10s %7s\n", "operation", "corvane", "peer", "peer", "ratio");
                    header = true;
                }
                std::printf("%-40s %14s %14s %-10s %7.2f\n", operation.c_str(), Format(ours->second.seconds).c_str(),
                            Format(measurement.seconds).c_str(), peer.c_str(), ours->second.seconds / measurement.seconds);
            }
        }
        std::fflush(stdout);
    }

private:
    static std::string Format(double seconds) {
        char text[32];
        if (seconds >= 1e-3) {
            std::snprintf(text, sizeof text, "%.2f ms", seconds * 1e3);
        } else if (seconds >= 1e-6) {
            std::snprintf(text, sizeof text, "%.2f us", seconds * 1e6);
        } else {
            std::snprintf(text, sizeof text, "%.1f ns", seconds * 1e9);
        }
        return text;
    }

    std::map<std::string, std::map<std::string, Measurement>> m_results;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    CRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
