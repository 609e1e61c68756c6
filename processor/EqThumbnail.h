#pragma once

#include <QVariantList>

namespace processor {

// The thumbnail of an EQ that is not in a processor yet, as the processor panel draws it while
// none is connected: 48 values 0 … 1 at f = 20·1000^(i/47) Hz. At each frequency the enabled
// bands add gain·exp(−oct²/(2w²)), oct = log2(f / band frequency), w = 1 / max(0.3, Q) (a Q of 0
// counts as 1); the sums are then scaled over a span of at least 6 dB to
// (value − min + 1) / (span + 2). `bands` are maps {"freq", "gain", "q", "enabled"}.
QVariantList demoEqCurve(const QVariantList &bands);

} // namespace processor
