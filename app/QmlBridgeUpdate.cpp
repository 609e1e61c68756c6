#include "app/QmlBridge.h"

#include "app/UpdateChecker.h"

// The update check, as the update dialog and the update marks of the home screen and the top
// bar see it.

namespace {

constexpr int firstCheckDelayMs = 4000;

} // namespace

UpdateChecker *QmlBridge::makeUpdateChecker()
{
    auto *checker = new UpdateChecker(UpdateChecker::programOptions(), this);
    connect(checker, &UpdateChecker::updateChanged, this, &QmlBridge::updateChanged);
    QTimer::singleShot(firstCheckDelayMs, checker, &UpdateChecker::checkForUpdates);
    return checker;
}

bool QmlBridge::updateAvailable() const
{
    return updateChecker_->updateAvailable();
}

QString QmlBridge::updateVersion() const
{
    return updateChecker_->updateVersion();
}

QString QmlBridge::updateDate() const
{
    return updateChecker_->updateDate();
}

QString QmlBridge::updateNotes() const
{
    return updateChecker_->updateNotes();
}

QString QmlBridge::updateError() const
{
    return updateChecker_->updateError();
}

bool QmlBridge::updating() const
{
    return updateChecker_->updating();
}

double QmlBridge::installerProgress() const
{
    return updateChecker_->updateProgress();
}

void QmlBridge::setUpdateDialogOpen(bool open)
{
    if (updateDialogOpen_ == open)
        return;
    updateDialogOpen_ = open;
    emit updateDialogOpenChanged();
}

void QmlBridge::checkForUpdates()
{
    updateChecker_->checkForUpdates();
}

void QmlBridge::startUpdate()
{
    updateChecker_->startUpdate();
}
