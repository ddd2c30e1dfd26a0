#pragma once

#include <cstddef>

// A zero-filled block for buffers of megabytes that are filled over and over
// (the lines of a grid row). It is mapped on its own, starts on a 2 MiB
// boundary and, where the kernel offers transparent huge pages, is advised
// onto them: it is then faulted in 2 MiB at a time instead of 4 KiB. On a
// virtual machine a 4 KiB fault costs about 10 us, as long as reading the
// page, so faulting in a 2048-sample row buffer cost as much as filling it.
// Pages stay lazy: a block never written takes no memory.
class HugePageBlock {
public:
    // Ends the process with the fixed allocation message when the block
    // cannot be mapped (as the numerical layer's other allocators do).
    explicit HugePageBlock(std::size_t bytes);
    ~HugePageBlock() { release(); }
    HugePageBlock(const HugePageBlock&) = delete;
    HugePageBlock& operator=(const HugePageBlock&) = delete;

    void* get() const { return data_; }

private:
    void release();

    void* data_ = nullptr;
    void* mapping_ = nullptr;
    std::size_t mappedBytes_ = 0;
};
