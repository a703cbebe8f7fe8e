// What the object picker offers, from the five choices of the Java side: the
// one scope's types and flags, its up-level and down-level filters and the
// picker's options, as the numbers the directory-services picker takes
// (DSOP_* of objsel.h, spelled out here so that this decision table builds
// and is tested without windows.h).
#pragma once

#include <cstdint>

namespace picker {

struct Choices {
    bool multiSelect = false;
    bool groups = false;
    bool users = false;
    bool wellKnownPrincipals = false;
    bool localComputerOnly = false;
};

struct Scope {
    std::uint32_t types = 0;             // DSOP_SCOPE_TYPE_*
    std::uint32_t flags = 0;             // DSOP_SCOPE_FLAG_*
    std::uint32_t uplevelBothModes = 0;  // DSOP_FILTER_* for mixed and native mode
    std::uint32_t uplevelMixedOnly = 0;
    std::uint32_t uplevelNativeOnly = 0;
    std::uint32_t downlevel = 0;      // DSOP_DOWNLEVEL_FILTER_*
    std::uint32_t pickerOptions = 0;  // DSOP_FLAG_*
};

// The local computer alone, or every scope but the global catalog and
// workgroups; users and groups shown by default; groups of every kind,
// users, and well-known principals (all well-known SIDs when groups are
// offered too, else only System, Local Service and Network Service).
Scope scopeFor(const Choices& choices);

}  // namespace picker
