// How far long work has come (reading or writing a file, a pass's walk over the graph), for a
// host that shows it while it runs.
//
// Work calls kaProgress::report(done, total) wherever it likes, as often as it likes, from the
// thread that runs it: done of total units of the running stage, in whatever units the work
// counts (bytes, nodes). While no listener is installed a report costs one predictable branch.
// While one is, a report reads the clock, and the listener hears it only when a tenth of a second
// has passed since the last report it heard: the listener is throttled by time, never by count,
// so work need not ration its reports. The host names the stages; work only reports figures.
#pragma once

#include "host/core/kaWarnings.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace Lode::Core {

class kaProgressListener {
public:
    virtual ~kaProgressListener() = default;
    virtual void show(uint64_t done, uint64_t total) = 0;
};

namespace kaProgress {

// Seconds on a steady clock.
using Clock = double (*)();
double steadySeconds();

namespace detail {
extern kaProgressListener* listener;
void forward(uint64_t done, uint64_t total);
} // namespace detail

inline void report(uint64_t done, uint64_t total)
{
    if (detail::listener) [[unlikely]]
        detail::forward(done, total);
}

// Installs listener (null: none) in place of the one before, which is returned. The first report
// after installing is heard at once.
kaProgressListener* listen(kaProgressListener* listener, Clock clock = steadySeconds);

} // namespace kaProgress

// kaopt's progress: one line on a terminal, "loading NAME  42%", rewritten in place with \r and
// erased before anything else is printed (warnings erase it themselves; the next report draws it
// again), so that it never mixes with other lines. It listens only when the stream is a terminal
// and the run is not quiet; otherwise it prints nothing.
class kaProgressLine : public kaProgressListener {
public:
    kaProgressLine(std::FILE* stream, bool quiet, bool isTerminal, kaProgress::Clock clock = kaProgress::steadySeconds);
    ~kaProgressLine() override;
    kaProgressLine(const kaProgressLine&) = delete;
    kaProgressLine& operator=(const kaProgressLine&) = delete;

    bool isListening() const { return _listening; }
    // The stage that the next reports measure: shows its name in place of the line before.
    void stage(const std::string& name);
    // Erases the line and ends the stage: reports are not shown until the next stage. Called
    // before anything else is printed on the terminal.
    void end();
    void show(uint64_t done, uint64_t total) override;

private:
    void draw(const std::string& text);
    void erase();

    std::FILE* _stream;
    bool _listening;
    kaProgressListener* _previous = nullptr;
    std::pair<kaBeforeWarningPrinted, void*> _previousBeforeWarning{nullptr, nullptr};
    std::string _stage;
    size_t _drawn = 0; // the width of what the line shows
};

} // namespace Lode::Core
