#include "host/IOskal.h"

#include <QUuid>

namespace Venmar {

CRef::~CRef() = default;

int CRef::Release() {
    const int left = --refs_;
    if (left == 0)
        delete this;
    return left;
}

} // namespace Venmar

namespace Oskal {

IOskal::IOskal() : m_id(QUuid::createUuid().toString()) {}

IOskal::~IOskal() = default;

QString IOskal::GetID() {
    return m_id;
}
QString IOskal::GetName() {
    return m_name;
}
void IOskal::SetName(const QString& name) {
    m_name = name;
}
QString IOskal::GetDescription() {
    return m_description;
}
void IOskal::SetDescription(const QString& description) {
    m_description = description;
}
boost::any& IOskal::GetParams() {
    return m_params;
}
void IOskal::SetParams(boost::any& params) {
    m_params = params;
}

void IOskal::GetErrorInfo(int& code, QString& message) {
    code = m_errorCode;
    message = m_errorMessage;
}

void IOskal::SetErrorInfo(int code, const QString& message) {
    m_errorCode = code;
    m_errorMessage = message;
}

void IOskal::Cancel() {
    m_cancelled = true;
}

} // namespace Oskal
