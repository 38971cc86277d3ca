#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "adjust/PowerLanes.h"

namespace lumivex::bench {

/// LUMIVEX_LANES=fma or plain runs the lesser versions of the exp and log kernels, to compare
/// them with the best one on the same machine.
inline const bool LanesFromEnvironment = [] {
    const char* lanes = std::getenv("LUMIVEX_LANES");
    if (lanes == nullptr)
        return false;
    if (std::strcmp(lanes, "fma") == 0) {
        detail::LaneLimit = detail::TLaneKind::lkFma;
    } else if (std::strcmp(lanes, "plain") == 0) {
        detail::LaneLimit = detail::TLaneKind::lkPlain;
    } else if (std::strcmp(lanes, "avx512") != 0) {
        std::fprintf(stderr, "LUMIVEX_LANES must be avx512, fma or plain, not \"%s\"\n", lanes);
        std::exit(2);
    }
    return true;
}();

}  // namespace lumivex::bench
