#include "audio/asio/AsioResultCheck.h"

#include "common/Log.h"

namespace audio::asio {

QString errorText(platform::asio::Error error)
{
    static const char *const texts[] = {
            "hardware input or output is not present or available",
            "hardware is malfunctioning",
            "input parameter invalid",
            "hardware is in a bad mode or used in a bad mode",
            "hardware is not running when sample position is inquired",
            "sample clock or rate cannot be determined or is not present",
            "not enough memory for completing the request",
    };
    const int index = error - platform::asio::error::NotPresent;
    if (index < 0 || index >= int(std::size(texts)))
        return QString();
    return QString::fromLatin1(texts[index]);
}

bool check(platform::asio::Error error, const QString &label)
{
    if (error == platform::asio::error::Ok)
        return true;
    sntCritical(lcAsio, label) << error << errorText(error);
    return false;
}

} // namespace audio::asio
