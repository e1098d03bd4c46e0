#include "HostReason.h"

#include <cstring>

namespace
{

int recordedError;
const char *recordedText;

} // namespace

void RecordHostReason(int error)
{
    recordedError = error;
    recordedText = nullptr;
}

void RecordHostReasonText(const char *text)
{
    recordedError = 0;
    recordedText = text;
}

const char *TakeHostReason()
{
    const char *reason = recordedText != nullptr ? recordedText
                         : recordedError != 0    ? std::strerror(recordedError)
                                                 : nullptr;
    recordedError = 0;
    recordedText = nullptr;
    return reason;
}
