#pragma once

#include <QList>
#include <QObject>
#include <QString>

// A bank of 20 curve channels, each with its palette colour ("#rrggbb"), shown and empty when
// created. Whether replacing a loaded channel asks first is remembered across runs.
class ChannelManager : public QObject
{
    Q_OBJECT
public:
    static constexpr int channelCount = 20;

    struct Channel
    {
        QString name;
        QString filePath;
        QString description;
        quint32 sampleRate = 48000;
        QList<float> frequencies;
        QList<float> values;
    };

    Q_INVOKABLE explicit ChannelManager(QObject *parent = nullptr);

    QString color(int index) const;
    bool isVisible(int index) const;
    bool isEmpty(int index) const;
    bool showReplaceConfirm() const { return showReplaceConfirm_; }

signals:
    void channelLoaded(int index);
    void channelUnloaded(int index);
    void channelVisibilityChanged(int index, bool visible);
    void channelColorChanged(int index, QString color);
    void channelGainChanged(int index, float gain);
    void channelsChanged();
    void channelReplaceRequested(int index, QString currentName, QString newFilePath);
    void channelLoadFailed(int index, QString filePath);

private:
    struct Slot
    {
        int index = 0;
        QString name;
        QString filePath;
        QString color;
        bool visible = true;
        Channel channel;
        float gain = 0.0f;
    };

    QList<Slot> slots_;
    bool showReplaceConfirm_ = true;
};
