#include "host/IOskal.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

// Under the Itanium C++ ABI a pointer to a virtual member function holds
// 1 + the byte offset of its virtual-table entry; the destructor takes the
// first two entries (complete and deleting).
template <class F> std::ptrdiff_t vtable_index(F member) {
    struct Representation {
        std::uintptr_t ptr;
        std::ptrdiff_t adj;
    } rep;
    static_assert(sizeof(F) == sizeof(Representation), "unexpected member pointer size");
    std::memcpy(&rep, &member, sizeof rep);
    EXPECT_EQ(rep.ptr & 1u, 1u) << "not a virtual member";
    return static_cast<std::ptrdiff_t>((rep.ptr - 1) / sizeof(void*));
}

template <class... F> std::vector<std::ptrdiff_t> vtable_indices(F... members) {
    return {vtable_index(members)...};
}

TEST(IOskalBinaryInterface, VirtualOperationsKeepTheirSlotOrder) {
    using Oskal::IOskal;
    // Entries 0 and 1: the virtual destructor.
    EXPECT_EQ(vtable_indices(&IOskal::GetID, &IOskal::GetName, &IOskal::SetName,
                             &IOskal::GetDescription, &IOskal::SetDescription, &IOskal::GetParams,
                             &IOskal::SetParams, &IOskal::GetErrorInfo, &IOskal::SetErrorInfo,
                             &IOskal::Execute, &IOskal::Cancel),
              (std::vector<std::ptrdiff_t>{2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
}

} // namespace
