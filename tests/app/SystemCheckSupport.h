#pragma once

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QVariantMap>

// Points this process at the test command's second sound server, the one whose levels,
// defaults and modules the system check's tests may change: the server's clients through
// PULSE_SERVER, ALSA through ~/.asoundrc with ALSA's default leading there and the given further
// declarations. False when the test command did not start it.
inline bool useSettingsServer(const QByteArray &declarations = QByteArray())
{
    const QByteArray server = qgetenv("SNT_TEST_SETTINGS_PULSE_SERVER");
    if (server.isEmpty())
        return false;
    qputenv("PULSE_SERVER", server);
    QFile rc(QDir::homePath() + QStringLiteral("/.asoundrc"));
    return rc.open(QIODevice::WriteOnly | QIODevice::Truncate)
           && rc.write("pcm.!default { type pulse }\nctl.!default { type pulse }\n" + declarations)
                      > 0;
}

// A check item in one line: "ok" or "attention", "info" and "fixable" where set, the detail.
inline QString describe(const QVariant &entry)
{
    const QVariantMap item = entry.toMap();
    QStringList words{item.value("ok").toBool() ? "ok" : "attention"};
    for (const char *flag : {"info", "fixable"})
        if (item.value(flag).toBool())
            words << flag;
    return words.join(' ') + ": " + item.value("detail").toString();
}
