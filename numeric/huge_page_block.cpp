#include "numeric/huge_page_block.h"

#include "numeric/fatal.h"

#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

[[noreturn]] void allocation_failed() {
    fatal_error("\nERROR calloc_2d: memory allocation error for data values\n\n");
}

} // namespace

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer sees past the end of heap blocks only: under it the block
// comes from the heap, so that an overrun of a row buffer is still caught.
HugePageBlock::HugePageBlock(std::size_t bytes) : data_(bytes ? std::calloc(bytes, 1) : nullptr) {
    if (data_ == nullptr)
        allocation_failed();
}

void HugePageBlock::release() {
    std::free(data_);
    data_ = nullptr;
}
#else
HugePageBlock::HugePageBlock(std::size_t bytes) {
    // Rounded up to whole huge pages, with one spare to find the boundary in:
    // a huge page is only used where the mapping covers all of it.
    const std::size_t rounded = bytes == 0 || bytes > SIZE_MAX - 2 * kHugePage
                                    ? 0
                                    : (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* p = rounded == 0 ? MAP_FAILED
                           : ::mmap(nullptr, rounded + kHugePage, PROT_READ | PROT_WRITE,
                                    MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        allocation_failed();
    mapping_ = p;
    mappedBytes_ = rounded + kHugePage;
    const auto start = reinterpret_cast<std::uintptr_t>(p);
    data_ = reinterpret_cast<void*>((start + kHugePage - 1) / kHugePage * kHugePage);
#ifdef MADV_HUGEPAGE
    // Only advice: where huge pages are off, the block works page by page.
    ::madvise(data_, rounded, MADV_HUGEPAGE);
#endif
}

void HugePageBlock::release() {
    if (mapping_ != nullptr)
        ::munmap(mapping_, mappedBytes_);
    data_ = mapping_ = nullptr;
    mappedBytes_ = 0;
}
#endif
