#include "host/core/kaWarnings.h"

#include <cstdio>

namespace Lode::Core {

namespace {

std::vector<kaWarning> gKept;
int gSilenced = 0;
std::pair<kaBeforeWarningPrinted, void*> gBeforePrinted{nullptr, nullptr};

void keep(const char* mark, kaWarning warning)
{
    if (gSilenced > 0) return;
    if (mark) {
        if (gBeforePrinted.first) gBeforePrinted.first(gBeforePrinted.second);
        std::fprintf(stderr, "%s%s\n", mark, warning.text.c_str());
    }
    gKept.push_back(std::move(warning));
}

} // namespace

void kaWarn(const std::string& text) { keep("WARNING: ", {text, false, ""}); }

void kaNoteLoss(const std::string& text, const std::string& count) { keep("LOSS: ", {text, true, count}); }

void kaKeepWarning(const std::string& text) { keep(nullptr, {text, false, ""}); }

std::vector<kaWarning> kaTakeWarnings()
{
    std::vector<kaWarning> taken;
    taken.swap(gKept);
    return taken;
}

std::pair<kaBeforeWarningPrinted, void*> kaSetBeforeWarningPrinted(kaBeforeWarningPrinted call, void* context)
{
    return std::exchange(gBeforePrinted, {call, context});
}

kaWarningsSilenced::kaWarningsSilenced() { ++gSilenced; }

kaWarningsSilenced::~kaWarningsSilenced() { --gSilenced; }

} // namespace Lode::Core
