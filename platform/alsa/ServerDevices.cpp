#include "platform/alsa/ServerDevices.h"

#include <QMutexLocker>

namespace platform::alsa {

std::optional<ServerDevice> ServerDevices::device(DataFlow flow, const QString &name)
{
    QMutexLocker lock(&mutex_);
    const QString key
            = (flow == DataFlow::Capture ? QStringLiteral("source:") : QStringLiteral("sink:"))
              + name;
    if (const auto known = answers_.constFind(key); known != answers_.cend())
        return *known;
    if (!server_)
        server_ = std::make_unique<SoundServer>();
    const std::optional<ServerDevice> answer = server_->device(flow, name);
    answers_.insert(key, answer);
    return answer;
}

} // namespace platform::alsa
