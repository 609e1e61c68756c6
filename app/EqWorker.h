#pragma once

#include "eq/Records.h"

#include <QList>
#include <QObject>
#include <QString>
#include <functional>

// Runs the EQ engine once, on the thread it was moved to, over its own copies of the measured
// curve and the options. Progress comes from the engine's lane threads; `done` follows when the
// schemes and the log are complete, and nothing touches them after that.
class EqWorker : public QObject
{
    Q_OBJECT
public:
    using Progress = std::function<void(int done, int total)>;
    using Compute = std::function<QList<snt::eq::Scheme>(
            const snt::eq::Measured &, const snt::eq::Options &, QString *log, const Progress &)>;

    // `compute` is the engine (tests hand in one of their own).
    explicit EqWorker(Compute compute, QObject *parent = nullptr);

    snt::eq::Measured measured;
    snt::eq::Options options;
    QList<snt::eq::Scheme> schemes;
    QString log;

public slots:
    void run();

signals:
    void done();
    void progressChanged(int done, int total);

private:
    const Compute compute_;
};
