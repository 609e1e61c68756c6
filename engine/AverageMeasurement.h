#pragma once

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

// Holder of an averaged curve over several channels: 256 averages by default, drawn in black.
class AverageMeasurement : public QObject
{
    Q_OBJECT
public:
    Q_INVOKABLE explicit AverageMeasurement(QObject *parent = nullptr);

    int count() const { return count_; }
    QString color() const { return color_; }
    bool hasMembers() const { return !members_.isEmpty(); }
    const QList<float> &values() const { return values_; }

private:
    int count_ = 256;
    QSet<int> members_;
    QString color_ = QStringLiteral("#000000");
    QList<float> values_;
};
