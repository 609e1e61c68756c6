#include "tests/support/RenameHook.h"

#include <QDeadlineTimer>
#include <QMutex>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <dlfcn.h>
#include <fcntl.h>

namespace renamehook {

namespace {

QMutex mutex;
QString awaitedEnd;
std::function<void()> awaitedAction;
std::atomic<bool> exchangesRefused = false;

// The action waiting for a rename onto `target`, taken so that it runs once.
std::function<void()> takeActionFor(const char *target)
{
    const QMutexLocker lock(&mutex);
    if (!awaitedAction || !QString::fromUtf8(target).endsWith(awaitedEnd))
        return {};
    return std::exchange(awaitedAction, {});
}

int afterRename(int result, const char *target)
{
    if (result == 0) {
        const int error = errno;
        if (const std::function<void()> action = takeActionFor(target))
            action();
        errno = error;
    }
    return result;
}

template<typename F>
F next(const char *name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

} // namespace

void afterNextRename(const QString &targetEnd, std::function<void()> action)
{
    const QMutexLocker lock(&mutex);
    awaitedEnd = targetEnd;
    awaitedAction = std::move(action);
}

void refuseExchanges(bool refused)
{
    exchangesRefused = refused;
}

Hold::Hold(const QString &targetEnd)
{
    afterNextRename(targetEnd, [state = state_] {
        state->holding = true;
        const QDeadlineTimer minute(60000);
        while (!state->released && !minute.hasExpired())
            QThread::msleep(1);
        state->holding = false;
    });
}

Hold::~Hold()
{
    release();
    afterNextRename(QString(), {});
}

void Hold::release()
{
    state_->released = true;
}

} // namespace renamehook

extern "C" {

int rename(const char *from, const char *to)
{
    static const auto real = renamehook::next<int (*)(const char *, const char *)>("rename");
    return renamehook::afterRename(real(from, to), to);
}

int renameat(int fromFolder, const char *from, int toFolder, const char *to)
{
    static const auto real
            = renamehook::next<int (*)(int, const char *, int, const char *)>("renameat");
    return renamehook::afterRename(real(fromFolder, from, toFolder, to), to);
}

int renameat2(int fromFolder, const char *from, int toFolder, const char *to, unsigned flags)
{
    static const auto real
            = renamehook::next<int (*)(int, const char *, int, const char *, unsigned)>(
                    "renameat2");
    if ((flags & RENAME_EXCHANGE) && renamehook::exchangesRefused) {
        errno = EINVAL;
        return -1;
    }
    return renamehook::afterRename(real(fromFolder, from, toFolder, to, flags), to);
}

} // extern "C"
