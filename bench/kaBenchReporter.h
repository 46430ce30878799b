// The reporter every benchmark of the project runs with: Google Benchmark's console table, plus
// each run's figures kept for the summary lines printed after the table, which compare a pass
// with a peer measured in the same process.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

class kaBenchReporter : public benchmark::ConsoleReporter {
public:
    using ConsoleReporter::ConsoleReporter;

    // Keeps, per run name ("Name/args" without the "BM_" prefix), the median over repetitions of
    // every counter (rates as benchmark computed them, "items_per_second" included) and of the
    // processor time per iteration in milliseconds ("cpu_ms").
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0) continue;
            std::string name = run.run_name.function_name;
            if (name.rfind("BM_", 0) == 0) name.erase(0, 3);
            if (!run.run_name.args.empty()) name += "/" + run.run_name.args;
            std::map<std::string, Median>& figures = _runs[name];
            figures["cpu_ms"].add(run.cpu_accumulated_time * 1e3 / double(run.iterations));
            for (const auto& [counter, value] : run.counters) figures[counter].add(value.value);
        }
    }

    // The figure of a run, or 0 when the run or its counter is missing (a filtered-out run).
    double figure(const std::string& run, const std::string& counter) const
    {
        const auto found = _runs.find(run);
        if (found == _runs.end()) return 0.0;
        const auto figure = found->second.find(counter);
        return figure == found->second.end() ? 0.0 : figure->second.value();
    }

    // The figure of every run that has the counter, by run name.
    std::map<std::string, double> figures(const std::string& counter) const
    {
        std::map<std::string, double> found;
        for (const auto& [run, figures] : _runs)
            if (const auto figure = figures.find(counter); figure != figures.end()) found[run] = figure->second.value();
        return found;
    }

private:
    // One slowed repetition moves a mean; the middle of the repetitions stays.
    struct Median {
        std::vector<double> values;
        void add(double value) { values.push_back(value); }
        double value() const
        {
            if (values.empty()) return 0.0;
            std::vector<double> sorted = values;
            std::sort(sorted.begin(), sorted.end());
            const size_t middle = sorted.size() / 2;
            return sorted.size() % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2.0;
        }
    };
    std::map<std::string, std::map<std::string, Median>> _runs;
};
