#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/TestSandbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

namespace snt::fuzz {

namespace {

void dropMessage(QtMsgType, const QMessageLogContext &, const QString &) { }

QString home()
{
    static const snt::test::TestSandbox sandbox;
    return sandbox.home();
}

} // namespace

QByteArray bytes(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

QString writeFile(const QString &path, const QByteArray &content)
{
    const QString full = QDir::isAbsolutePath(path) ? path : home() + QLatin1Char('/') + path;
    QDir().mkpath(QFileInfo(full).path());
    QFile file(full);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
    return full;
}

bool Records::next(Record &record)
{
    constexpr qsizetype head = 7;
    if (position_ >= input_.size())
        return false;
    const QByteArray header = input_.mid(position_, head).leftJustified(head, '\0');
    record.kind = quint8(header.at(0));
    record.step = qFromLittleEndian<quint32>(header.constData() + 1);
    const quint16 length = qFromLittleEndian<quint16>(header.constData() + 5);
    record.bytes = input_.mid(position_ + head, length);
    position_ += head + length;
    return true;
}

} // namespace snt::fuzz

// Runs once, before the first input.
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    snt::fuzz::writeFile(QStringLiteral(".sandbox"), QByteArray()); // makes HOME the sandbox
    qInstallMessageHandler(snt::fuzz::dropMessage);
    new QCoreApplication(*argc, *argv); // lives as long as the process
    QCoreApplication::setOrganizationName(QStringLiteral("Halvo"));
    QCoreApplication::setApplicationName(QStringLiteral("测量工作流"));
    return 0;
}
