#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lumivex {

/// The GLIBC_TUNABLES value that asks malloc to back its heap with transparent huge pages, or
/// nothing when no restart would change anything: the kernel's mode (the text of
/// /sys/kernel/mm/transparent_hugepage/enabled) gives them to every process or to none, or the
/// variable (`current`, null when unset) already says what malloc should do.
std::optional<std::string> HugePageTunables(std::string_view thpMode, const char* current);

/// A 24-megapixel float image is 384 MB that every load, resize and turn faults in: in 4 KB
/// pages that is about 94000 faults, a large share of the work (several times the decoding on a
/// virtual machine). When the kernel hands out huge pages only on request, the program restarts
/// itself once, before anything else runs, with malloc asking for them. Returns when no restart
/// is needed or the restart failed; the program then runs as it is.
/// GLIBC_TUNABLES=glibc.malloc.hugetlb=0 keeps small pages.
void UseHugePages(char** argv);

}  // namespace lumivex
