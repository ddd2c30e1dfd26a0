#include "host/IOskal.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <tuple>
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

class Probe : public Oskal::IOskal {
public:
    bool Execute() override {
        m_nStatus = 7;
        m_progress(50.0, QString("half"), this);
        return !m_params.empty();
    }
    static int destroyed;
    ~Probe() override { destroyed++; }
};
int Probe::destroyed = 0;

TEST(IOskalHost, SlotsSignalAndErrorInformationReachTheHost) {
    Probe probe;
    boost::any slot = 42;
    probe.SetParams(slot);
    EXPECT_EQ(boost::any_cast<int>(probe.GetParams()), 42);

    std::tuple<double, QString, void*> seen;
    probe.m_progress.connect([&](double pct, const QString& msg, void* obj) {
        seen = {pct, msg, obj};
        return 0;
    });
    EXPECT_TRUE(probe.Execute());
    EXPECT_EQ(seen, std::make_tuple(50.0, QString("half"), static_cast<void*>(&probe)));
    EXPECT_EQ(probe.GetStatus(), 7);

    probe.SetErrorInfo(110, QString("bad"));
    int code = 0;
    QString message;
    probe.GetErrorInfo(code, message);
    EXPECT_EQ(std::tie(code, message), std::make_tuple(110, QString("bad")));

    probe.SetName("n");
    probe.SetDescription("d");
    EXPECT_EQ(std::make_tuple(probe.GetName(), probe.GetDescription()),
              std::make_tuple(QString("n"), QString("d")));
    EXPECT_FALSE(probe.GetID().isEmpty());
}

TEST(IOskalHost, ReleaseOfTheLastReferenceDestroysThroughTheBase) {
    Probe::destroyed = 0;
    Venmar::CRef* object = new Probe;
    object->AddRef();
    EXPECT_EQ(object->Release(), 1);
    EXPECT_EQ(Probe::destroyed, 0);
    EXPECT_EQ(object->Release(), 0);
    EXPECT_EQ(Probe::destroyed, 1);
}

} // namespace
