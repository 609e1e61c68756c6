#pragma once

#include "audio/Plugin.h"
#include "audio/Stream.h"

#include <QHash>

// A backend with a scripted device list, for the client's merge and routing rules. It remembers
// the last request that reached it.
class FakePlugin : public audio::Plugin
{
    Q_OBJECT
public:
    explicit FakePlugin(QString name)
        : name_(std::move(name))
    { }

    QString name() const override { return name_; }
    audio::DeviceList devices() override { return rows; }
    audio::DeviceInfo::Id defaultDevice(const Direction &direction) override
    {
        return direction == Input ? defaultInput : defaultOutput;
    }
    audio::Format preferredFormat(const audio::DeviceInfo::Id &id,
                                  const Direction &direction) override
    {
        lastId = id;
        lastDirection = direction;
        return format;
    }
    audio::Stream *open(const QString &id, const Direction &direction, const audio::Format &f,
                        QIODevice *) override
    {
        lastId = id;
        lastDirection = direction;
        return new audio::Stream(f, this);
    }
    audio::DeviceInfo::Id currentId(const audio::DeviceInfo::Id &savedId) override
    {
        return renamedIds.value(savedId, Plugin::currentId(savedId));
    }

    audio::DeviceList rows;
    // Ids the devices had before: saved id -> the id listed now.
    QHash<QString, QString> renamedIds;
    QString defaultInput, defaultOutput;
    audio::Format format{44100, 4};
    QString lastId;
    Direction lastDirection = Input;

private:
    QString name_;
};

inline audio::DeviceInfo row(const QString &id, const QString &name, const QString &plugin)
{
    return audio::DeviceInfo{id, name, 48000, plugin, {"1", "2"}, {"1", "2"}};
}
