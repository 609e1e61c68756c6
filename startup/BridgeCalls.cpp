#include "startup/BridgeCalls.h"

#include "common/Log.h"

#include <QMetaMethod>
#include <QMetaProperty>
#include <QObject>

#include <array>
#include <optional>

namespace snt::startup {

namespace {

const char *const tag = "[Startup]";
constexpr int maxArguments = 10; // what QMetaMethod::invoke takes

QString targetName(const QObject *target)
{
    return target ? QString::fromLatin1(target->metaObject()->className())
                  : QStringLiteral("(gone)");
}

std::optional<QMetaMethod> findMethod(const QObject *target, const char *name, qsizetype arity)
{
    if (!target)
        return std::nullopt;
    const QMetaObject *meta = target->metaObject();
    for (int i = meta->methodCount() - 1; i >= 0; --i) {
        const QMetaMethod method = meta->method(i);
        if (method.name() == name && (arity < 0 || method.parameterCount() == arity)
            && method.methodType() != QMetaMethod::Signal)
            return method;
    }
    return std::nullopt;
}

} // namespace

BridgeCalls::BridgeCalls(QObject *target)
    : target_(target)
{ }

bool BridgeCalls::hasProperty(const char *property) const
{
    return target_ && target_->metaObject()->indexOfProperty(property) >= 0;
}

bool BridgeCalls::hasMethod(const char *method) const
{
    return findMethod(target_, method, -1).has_value();
}

QMetaMethod BridgeCalls::notifySignal(const char *property) const
{
    if (!hasProperty(property))
        return {};
    return target_->metaObject()
            ->property(target_->metaObject()->indexOfProperty(property))
            .notifySignal();
}

QVariant BridgeCalls::read(const char *property) const
{
    if (!hasProperty(property)) {
        sntWarning(lcStartup, tag) << targetName(target_) << "has no property" << property;
        return {};
    }
    return target_->property(property);
}

bool BridgeCalls::write(const char *property, const QVariant &value) const
{
    if (!hasProperty(property)) {
        sntWarning(lcStartup, tag) << targetName(target_) << "has no property" << property;
        return false;
    }
    const QMetaProperty meta
            = target_->metaObject()->property(target_->metaObject()->indexOfProperty(property));
    if (meta.write(target_, value))
        return true;
    sntWarning(lcStartup, tag) << "cannot write" << property << "of" << targetName(target_);
    return false;
}

QVariant BridgeCalls::call(const char *method, const QVariantList &arguments) const
{
    const std::optional<QMetaMethod> found = findMethod(target_, method, arguments.size());
    if (!found || arguments.size() > maxArguments) {
        sntWarning(lcStartup, tag) << targetName(target_) << "has no operation" << method
                                   << "taking" << arguments.size() << "arguments";
        return {};
    }
    // Each argument in the member's own type; a member taking QVariant gets the value as it is.
    QVariantList converted = arguments;
    std::array<QGenericArgument, maxArguments> passed;
    for (qsizetype i = 0; i < converted.size(); ++i) {
        const QMetaType type = found->parameterMetaType(int(i));
        if (type != QMetaType::fromType<QVariant>() && !converted[i].convert(type)) {
            sntWarning(lcStartup, tag)
                    << "argument" << i + 1 << "of" << method << "is no" << type.name();
            return {};
        }
        passed[size_t(i)] = type == QMetaType::fromType<QVariant>()
                                    ? QGenericArgument("QVariant", &converted[i])
                                    : QGenericArgument(type.name(), converted[i].constData());
    }
    // The result in the member's own type; a member returning QVariant writes it as it is.
    const QMetaType returnType = found->returnMetaType();
    const bool returns = returnType.isValid() && returnType != QMetaType::fromType<void>();
    const bool returnsVariant = returnType == QMetaType::fromType<QVariant>();
    QVariant result = returns && !returnsVariant ? QVariant(returnType) : QVariant();
    const QGenericReturnArgument returned
            = !returns         ? QGenericReturnArgument()
              : returnsVariant ? QGenericReturnArgument("QVariant", &result)
                               : QGenericReturnArgument(returnType.name(), result.data());
    if (!found->invoke(target_, Qt::DirectConnection, returned, passed[0], passed[1], passed[2],
                       passed[3], passed[4], passed[5], passed[6], passed[7], passed[8],
                       passed[9])) {
        sntWarning(lcStartup, tag)
                << "calling" << method << "of" << targetName(target_) << "failed";
        return {};
    }
    return result;
}

} // namespace snt::startup
