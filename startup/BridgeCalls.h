#pragma once

#include <QMetaMethod>
#include <QPointer>
#include <QVariant>
#include <QVariantList>

class QObject;

namespace snt::startup {

// Reaches an object's properties and invokable members by the names the QML uses, converting
// values to the member's own types as the QML engine does. Start-up and the headless modes drive
// the bridge this way: they use operations of every workflow, and an operation whose workflow is
// not part of the program yet then does nothing but log, instead of tying start-up to the
// headers of every workflow. All calls are direct, on the caller's thread.
class BridgeCalls
{
public:
    explicit BridgeCalls(QObject *target);

    QObject *target() const { return target_; }

    // The property's value; invalid, with a warning, when there is no such property.
    QVariant read(const char *property) const;
    // Writes through the property's setter; false, with a warning, when it cannot.
    bool write(const char *property, const QVariant &value) const;
    // Calls the invokable member of that name taking as many arguments; its return value
    // (invalid for none), or invalid with a warning when there is no such member or an argument
    // does not convert.
    QVariant call(const char *method, const QVariantList &arguments = {}) const;

    // The property's change signal; invalid when it has none.
    QMetaMethod notifySignal(const char *property) const;

    // Whether the target has the property, or an invokable member of that name.
    bool hasProperty(const char *property) const;
    bool hasMethod(const char *method) const;

private:
    QPointer<QObject> target_;
};

} // namespace snt::startup
