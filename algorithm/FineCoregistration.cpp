#include "algorithm/FineCoregistration.h"

#include <QCoreApplication>

FineCoregistration::FineCoregistration() = default;

FineCoregistration::~FineCoregistration() = default;

bool FineCoregistration::Execute() {
    if (m_params.empty() || m_params.type() != typeid(stFineCoregistrationInfo)) {
        m_nStatus = 100;
        return false;
    }
    // The run works on its own copy: the slot stays as the host left it.
    stFineCoregistrationInfo info = boost::any_cast<stFineCoregistrationInfo>(m_params);

    m_progress(0.0, QString(), this);
    const bool ok = RunFineCoreg(info);
    m_progress(100.0, QString(), this);

    if (ok)
        SetErrorInfo(666, QCoreApplication::translate("FineCoregistration",
                                                      "Fine coregistration success !"));
    return ok;
}

void post_failure(Oskal::IOskal& algo, const char* message) {
    algo.SetErrorInfo(110, QCoreApplication::translate("FineCoregistration", message));
}

bool FineCoregistration::fail(const char* message) {
    post_failure(*this, message);
    return false;
}
