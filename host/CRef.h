#pragma once

#include <atomic>

namespace Venmar {

// Reference-counted base of the platform's objects. Its only virtual member is
// the destructor, so a derived interface's virtual table starts with it.
class CRef {
public:
    CRef() = default;
    CRef(const CRef&) : refs_(1) {}
    CRef& operator=(const CRef&) { return *this; }
    virtual ~CRef();

    int AddRef() { return ++refs_; }
    // Drops one reference and destroys the object through the virtual
    // destructor when none is left. Returns the references still held.
    int Release();
    int RefCount() const { return refs_; }

private:
    std::atomic<int> refs_{1};
};

} // namespace Venmar
