#include "app/EqWorker.h"

EqWorker::EqWorker(Compute compute, QObject *parent)
    : QObject(parent)
    , compute_(std::move(compute))
{ }

void EqWorker::run()
{
    schemes = compute_(measured, options, &log,
                       [this](int done, int total) { emit progressChanged(done, total); });
    emit done();
}
