#include "engine/ChannelPalette.h"

const QStringList &channelPalette()
{
    static const QStringList palette{
            QStringLiteral("#c84040"), QStringLiteral("#4080c0"), QStringLiteral("#40a060"),
            QStringLiteral("#c8a040"), QStringLiteral("#a040c8"), QStringLiteral("#c86040"),
            QStringLiteral("#40c8c8"), QStringLiteral("#c840c8"), QStringLiteral("#80c840"),
            QStringLiteral("#408080"), QStringLiteral("#e06080"), QStringLiteral("#6080e0"),
            QStringLiteral("#60c080"), QStringLiteral("#e0c060"), QStringLiteral("#8060e0"),
            QStringLiteral("#e08060"), QStringLiteral("#60e0e0"), QStringLiteral("#e060a0"),
            QStringLiteral("#a0e060"), QStringLiteral("#607080"),
    };
    return palette;
}
