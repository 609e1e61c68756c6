#pragma once

#include <QVariantList>

// What the processor panel shows of one input or output channel.
struct ChannelState
{
    double gain = 0.0; // dB
    double delay = 0.0; // ms
    bool muted = false;
    bool phaseNormal = true;
    // The predicted EQ response as 33 points in 0..1 (0.5 is 0 dB), kept in the form the panel
    // reads, so a read of the channel maps copies no curve; empty until first built.
    QVariantList response;
};
