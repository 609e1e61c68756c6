#include "engine/AverageMeasurement.h"

AverageMeasurement::AverageMeasurement(QObject *parent)
    : QObject(parent)
{ }
