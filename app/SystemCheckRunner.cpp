#include "app/SystemCheckRunner.h"

#include "app/SystemCheck.h"

SystemCheckRunner::SystemCheckRunner(std::shared_ptr<const syscheck::SystemCheck> check,
                                     QObject *parent)
    : QObject(parent)
    , check_(std::move(check))
    , worker_(new QObject)
{
    thread_.setObjectName(QStringLiteral("system-check"));
    worker_->moveToThread(&thread_);
    thread_.start();
}

SystemCheckRunner::~SystemCheckRunner()
{
    thread_.quit();
    thread_.wait();
    delete worker_;
}

void SystemCheckRunner::check(const QString &inputId)
{
    if (checking_)
        nextCheck_ = inputId;
    else
        startCheck(inputId);
}

void SystemCheckRunner::fix(const QString &inputId)
{
    QMetaObject::invokeMethod(worker_, [this, check = check_, inputId] {
        const QString message = check->applySystemFixes(inputId);
        const QVariantList items = check->runSystemCheck(inputId);
        QMetaObject::invokeMethod(this, [this, message, items] { emit fixed(message, items); });
    });
}

void SystemCheckRunner::startCheck(const QString &inputId)
{
    checking_ = true;
    QMetaObject::invokeMethod(worker_, [this, check = check_, inputId] {
        const QVariantList items = check->runSystemCheck(inputId);
        QMetaObject::invokeMethod(this, [this, items] { checkDone(items); });
    });
}

void SystemCheckRunner::checkDone(const QVariantList &items)
{
    checking_ = false;
    emit checked(items);
    if (nextCheck_) {
        const QString inputId = *nextCheck_;
        nextCheck_.reset();
        startCheck(inputId);
    }
}
