#pragma once

#include "audio/Plugin.h"
#include "audio/Stream.h"

#include <QIODevice>

// A backend with a scripted device list, for the client's merge and routing rules.
class FakePlugin : public audio::Plugin {
    Q_OBJECT
public:
    explicit FakePlugin(QString name) : name_(std::move(name)) {}

    QString name() const override { return name_; }
    audio::DeviceList devices() override { return rows; }
    audio::DeviceInfo::Id defaultDevice(const Direction& direction) override
    {
        return direction == Input ? defaultInput : defaultOutput;
    }
    audio::Format preferredFormat(const audio::DeviceInfo::Id& id, const Direction&) override
    {
        lastFormatId = id;
        return format;
    }
    audio::Stream* open(const QString& id, const Direction& direction, const audio::Format& f,
                        QIODevice*) override
    {
        lastOpenId = id;
        lastDirection = direction;
        return new audio::Stream(f, this);
    }

    audio::DeviceList rows;
    QString defaultInput;
    QString defaultOutput;
    audio::Format format{44100, 4};
    QString lastFormatId;
    QString lastOpenId;
    Direction lastDirection = Input;

private:
    QString name_;
};

inline audio::DeviceInfo row(const QString& id, const QString& name, const QString& plugin)
{
    return audio::DeviceInfo{id, name, 48000, plugin, {"1", "2"}, {"1", "2"}};
}
