#include "audio/wasapi/WasapiResultCheck.h"

#include "common/Log.h"

#include <algorithm>

namespace audio::wasapi {
namespace {

QString hex(platform::Result result, int width)
{
    return QString::number(result, 16).toUpper().rightJustified(width, QLatin1Char('0'));
}

} // namespace

QString resultMessage(platform::Result result)
{
    // This platform keeps no message table for these codes, so the fallbacks always apply.
    constexpr platform::Result dispatchFirst = 0x80040200;
    constexpr platform::Result dispatchLast = 0x8004FFFF;
    if (result >= dispatchFirst && result <= dispatchLast)
        return QStringLiteral("IDispatch error #%1").arg(int(result - dispatchFirst));
    return QStringLiteral("Unknown error 0x") + hex(result, 0);
}

bool check(platform::Result result, const QString &label,
           std::initializer_list<platform::Result> accepted)
{
    if (std::find(accepted.begin(), accepted.end(), result) != accepted.end())
        return true;
    const QString name = platform::resultName(result);
    sntDebug(lcWasapi, label) << QStringLiteral("0x") + hex(result, 8) << resultMessage(result)
                              << (name.isEmpty() ? QStringLiteral("unknown") : name);
    return false;
}

} // namespace audio::wasapi
