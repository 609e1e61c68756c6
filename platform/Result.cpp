#include "platform/Result.h"

#include <QHash>
#include <cerrno>

namespace platform {

QString resultName(Result code)
{
    // Built once, on first use; function-local statics are initialised thread-safely.
    static const QHash<Result, QString> names = {
            {result::AlreadyInitialized, QStringLiteral("AUDCLNT_E_ALREADY_INITIALIZED")},
            {result::BufferSizeNotAligned, QStringLiteral("AUDCLNT_E_BUFFER_SIZE_NOT_ALIGNED")},
            {result::BufferSizeError, QStringLiteral("AUDCLNT_E_BUFFER_SIZE_ERROR")},
            {result::CpuUsageExceeded, QStringLiteral("AUDCLNT_E_CPUUSAGE_EXCEEDED")},
            {result::DeviceInvalidated, QStringLiteral("AUDCLNT_E_DEVICE_INVALIDATED")},
            {result::DeviceInUse, QStringLiteral("AUDCLNT_E_DEVICE_IN_USE")},
            {result::EndpointCreateFailed, QStringLiteral("AUDCLNT_E_ENDPOINT_CREATE_FAILED")},
            {result::InvalidDevicePeriod, QStringLiteral("AUDCLNT_E_INVALID_DEVICE_PERIOD")},
            {result::UnsupportedFormat, QStringLiteral("AUDCLNT_E_UNSUPPORTED_FORMAT")},
            {result::ExclusiveModeNotAllowed,
             QStringLiteral("AUDCLNT_E_EXCLUSIVE_MODE_NOT_ALLOWED")},
            {result::BufDurationPeriodNotEqual,
             QStringLiteral("AUDCLNT_E_BUFDURATION_PERIOD_NOT_EQUAL")},
            {result::ServiceNotRunning, QStringLiteral("AUDCLNT_E_SERVICE_NOT_RUNNING")},
            {result::InvalidArg, QStringLiteral("E_INVALIDARG")},
    };
    return names.value(code);
}

Result resultFromAlsaError(int error)
{
    switch (-error) {
    case EBUSY:
    case EAGAIN:
        return result::DeviceInUse;
    case ENODEV:
    case ENXIO:
    case ESTRPIPE:
    case EBADFD:
        return result::DeviceInvalidated;
    case ENOENT:
        return result::NotFound;
    case EINVAL:
        return result::InvalidArg;
    case ECONNREFUSED:
    case EHOSTDOWN:
        return result::ServiceNotRunning;
    default:
        return result::EndpointCreateFailed;
    }
}

} // namespace platform
