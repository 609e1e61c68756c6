#pragma once

#include "startup/BridgeCalls.h"

#include <QObject>
#include <QString>

namespace snt::selftest {

// The last message the program showed its user (the bridge's toast), kept after the window has
// cleared the toast again, four seconds on: a walk that fails later can still say what the
// program said went wrong ("没找到可用的声卡 / 话筒").
class UserMessages : public QObject
{
    Q_OBJECT
public:
    explicit UserMessages(QObject *bridge);

    QString last() const { return last_; }

private slots:
    void onToastChanged();

private:
    startup::BridgeCalls bridge_;
    QString last_;
};

} // namespace snt::selftest
