#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

// What every fuzz target shares. Before the first input each target gets a sandboxed HOME (no
// input reaches a real user's files) and an application object, and the program's own log lines
// are silenced: every refused input would otherwise print its warning.
namespace snt::fuzz {

// The input as bytes.
QByteArray bytes(const uint8_t *data, size_t size);

// Writes the input to `path` (relative ones inside the sandboxed HOME), creating its folder, and
// returns the full path: for the parsers that read files.
QString writeFile(const QString &path, const QByteArray &content);

// An input read as a conversation, for the targets that feed a stateful reader one message
// after another: records of a kind byte, a 32-bit little-endian time step and a 16-bit
// little-endian length followed by that many bytes. An input that runs out gives its last record
// what is left.
class Records
{
public:
    struct Record
    {
        quint8 kind = 0;
        quint32 step = 0;
        QByteArray bytes;
    };

    explicit Records(const QByteArray &input)
        : input_(input)
    { }

    bool next(Record &record);

private:
    QByteArray input_;
    qsizetype position_ = 0;
};

} // namespace snt::fuzz
