#pragma once

#include "host/CRef.h"

#include <QString>
#include <boost/any.hpp>
#include <boost/signals2/signal.hpp>

namespace Oskal {

// The platform's algorithm interface. Hosts call the virtual operations by
// position, so their order below is part of the binary interface:
// destructor, GetID, GetName, SetName, GetDescription, SetDescription,
// GetParams, SetParams, GetErrorInfo, SetErrorInfo, Execute, Cancel.
class IOskal : public Venmar::CRef {
public:
    using ProgressSignal = boost::signals2::signal<int(double, const QString&, void*)>;

    virtual ~IOskal();

    virtual QString GetID();
    virtual QString GetName();
    virtual void SetName(const QString& name);
    virtual QString GetDescription();
    virtual void SetDescription(const QString& description);
    virtual boost::any& GetParams();
    virtual void SetParams(boost::any& params);
    virtual void GetErrorInfo(int& code, QString& message);
    virtual void SetErrorInfo(int code, const QString& message);
    virtual bool Execute() = 0;
    virtual void Cancel();

    // Hosts connect to the progress signal: (percent, message, emitting object).
    ProgressSignal m_progress;

    // Status left by the last Execute (100: no usable parameter record).
    int GetStatus() const { return m_nStatus; }
    bool IsCancelled() const { return m_cancelled; }

protected:
    IOskal();

    int m_nStatus = 0;
    boost::any m_params;

private:
    QString m_id;
    QString m_name;
    QString m_description;
    int m_errorCode = 0;
    QString m_errorMessage;
    bool m_cancelled = false;
};

} // namespace Oskal
