// What every pass's messages share: how an object is named in them, and the report route that
// prints through the pass's interface and flushes standard output at once.
#pragma once

#include "host/core/kaNamedObject.h"
#include "host/core/kaText.h"
#include "host/core/kaWarnings.h"
#include "host/opt/kaOptInterface.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace Lode::OptExtension {

// An object's identity in messages: the low 32 bits of its address, printed with "0x%08x".
inline unsigned int kaObjectId(const void* object)
{
    return static_cast<unsigned int>(reinterpret_cast<uintptr_t>(object));
}

// An object's name as messages print it: the whole name, and "" for an unnamed object.
inline const char* kaNameOf(const Lode::Core::kaNamedObject* object)
{
    const char* name = object ? object->getName() : nullptr;
    return name ? name : "";
}

// printf through the interface followed by fflush(stdout) of the interface: the route of the
// reports and of the blend-weight messages, whose lines must be out before anything else prints.
inline void kaReport(Lode::Opt::kaOptInterface* out, const char* format, ...) __attribute__((format(printf, 2, 3)));
inline void kaReport(Lode::Opt::kaOptInterface* out, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string text = Lode::Core::kaFormatV(format, args);
    va_end(args);
    out->printf("%s", text.c_str());
    out->fflush(stdout);
}

// A message that reports something the scene loses: noted as a loss of the run (kaWarnings.h,
// without its "WARNING: " and line break) and handed back for the pass to print by its own route.
inline std::string kaLossMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline std::string kaLossMessage(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string text = Lode::Core::kaFormatV(format, args);
    va_end(args);
    std::string loss = text.rfind("WARNING: ", 0) == 0 ? text.substr(9) : text;
    while (!loss.empty() && loss.back() == '\n') loss.pop_back();
    Lode::Core::kaNoteLoss(loss);
    return text;
}

} // namespace Lode::OptExtension
