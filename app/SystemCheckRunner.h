#pragma once

#include <QObject>
#include <QString>
#include <QThread>
#include <QVariantList>
#include <memory>
#include <optional>

namespace syscheck {
class SystemCheck;
}

// Runs the system check and its fixes on a thread of their own, one request at a time in the
// order asked, so that a slow sound server or a new format that takes its time never holds up
// the screens. The results come back as signals on the runner's own thread.
class SystemCheckRunner : public QObject
{
    Q_OBJECT
public:
    explicit SystemCheckRunner(std::shared_ptr<const syscheck::SystemCheck> check,
                               QObject *parent = nullptr);
    // Waits for the request under way; those still waiting are dropped.
    ~SystemCheckRunner() override;

    // A check asked for while another is under way runs once after it (for the latest id), not
    // once per request: the periodic check and a re-check in the dialog do not pile up.
    void check(const QString &inputId);
    // Applies the fixes, then checks again.
    void fix(const QString &inputId);

signals:
    void checked(const QVariantList &items);
    void fixed(const QString &message, const QVariantList &items);

private:
    void startCheck(const QString &inputId);
    void checkDone(const QVariantList &items);

    std::shared_ptr<const syscheck::SystemCheck> check_;
    QThread thread_;
    QObject *worker_;
    bool checking_ = false;
    std::optional<QString> nextCheck_;
};
