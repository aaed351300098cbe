// The exported class: the only way to make and destroy a report.
#include <QVEHelper.h>

#include "report/verification_report.h"

namespace QVE_Helper {

IVerificationReport* IVerificationReport::Create() { return new qve::VerificationReport(); }

void IVerificationReport::Delete(IVerificationReport* report) { delete report; }

IVerificationReport::IVerificationReport() = default;

// The interface holds no state, so a copy has nothing to take over.
IVerificationReport::IVerificationReport(const IVerificationReport&) {}

IVerificationReport& IVerificationReport::operator=(const IVerificationReport&) { return *this; }

IVerificationReport::~IVerificationReport() = default;

}  // namespace QVE_Helper
