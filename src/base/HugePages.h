#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/mman.h>

namespace penwick {

// Asks for huge pages behind the whole 2 MiB pages of a large range about to be written once (a
// read's buffer, a large answer's memory): the kernel then fills 2 MiB at a fault instead of
// 4 KiB, and for tens of MiB the faults cost more than the writing itself. Only a hint, where the
// system gives huge pages on request; small ranges are left alone.
inline void adviseHugePages(void* data, std::size_t size)
{
    constexpr std::size_t kHugePage = 2 * 1024 * 1024;
    if (!data || size < 4 * kHugePage)
        return;
    auto begin = (reinterpret_cast<std::uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
    auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kHugePage - 1);
    if (end > begin)
        (void)madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

} // namespace penwick
