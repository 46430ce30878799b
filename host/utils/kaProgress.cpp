#include "host/utils/kaProgress.h"

#include <chrono>

namespace Lode::Core {

namespace kaProgress {

namespace {
constexpr double HeardEvery = 0.1; // seconds: ten reports a second are as many as a reader follows
Clock gClock = steadySeconds;
double gLastHeard = 0.0;
bool gHeardAny = false;
} // namespace

kaProgressListener* detail::listener = nullptr;

double steadySeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void detail::forward(uint64_t done, uint64_t total)
{
    const double now = gClock();
    if (gHeardAny && now - gLastHeard < HeardEvery) return;
    gHeardAny = true;
    gLastHeard = now;
    listener->show(done, total);
}

kaProgressListener* listen(kaProgressListener* listener, Clock clock)
{
    kaProgressListener* previous = detail::listener;
    detail::listener = listener;
    gClock = clock;
    gHeardAny = false;
    return previous;
}

} // namespace kaProgress

namespace {
// Wider lines would wrap on a narrow terminal, and \r would then rewrite only their last row.
constexpr size_t LineWidth = 79;
} // namespace

kaProgressLine::kaProgressLine(std::FILE* stream, bool quiet, bool isTerminal, kaProgress::Clock clock)
    : _stream(stream), _listening(!quiet && isTerminal)
{
    if (!_listening) return;
    _previous = kaProgress::listen(this, clock);
    _previousBeforeWarning =
        kaSetBeforeWarningPrinted([](void* line) { static_cast<kaProgressLine*>(line)->erase(); }, this);
}

kaProgressLine::~kaProgressLine()
{
    if (!_listening) return;
    end();
    kaSetBeforeWarningPrinted(_previousBeforeWarning.first, _previousBeforeWarning.second);
    kaProgress::listen(_previous);
}

void kaProgressLine::stage(const std::string& name)
{
    if (!_listening) return;
    _stage = name;
    draw(name);
}

void kaProgressLine::end()
{
    _stage.clear();
    erase();
}

void kaProgressLine::erase()
{
    if (!_drawn) return;
    std::fprintf(_stream, "\r%*s\r", static_cast<int>(_drawn), "");
    std::fflush(_stream);
    _drawn = 0;
}

void kaProgressLine::show(uint64_t done, uint64_t total)
{
    if (_stage.empty() || total == 0) return;
    const uint64_t percent = done >= total ? 100 : done * 100 / total;
    draw(_stage + "  " + std::to_string(percent) + "%");
}

void kaProgressLine::draw(const std::string& text)
{
    // A long name gives way from its start: the end of the line says how far the stage is.
    const std::string shown = text.size() > LineWidth ? "..." + text.substr(text.size() - (LineWidth - 3)) : text;
    // Spaces over the rest of a longer line before, and the cursor left at the line's start, so
    // that whatever is printed next without erasing the line starts at the margin.
    const size_t padding = _drawn > shown.size() ? _drawn - shown.size() : 0;
    std::fprintf(_stream, "\r%s%*s\r", shown.c_str(), static_cast<int>(padding), "");
    std::fflush(_stream);
    _drawn = shown.size();
}

} // namespace Lode::Core
