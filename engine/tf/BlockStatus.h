#pragma once

// Where the phone-capture block path stands, as the measurement publishes it.
enum class BlockStatus : int {
    NotPhone = 0, // the input is not a phone
    NoPhone = 1, // no phone is connected under the input's id
    NotPlaying = 2, // the generator is stopped or has no rate, or its sweep cannot be used
    Waiting = 3, // not enough phone samples yet, or no block could be placed
    Measuring = 4, // blocks are being measured
    UnusableSignal = 5, // neither a sweep between two frequencies nor periodic noise
    VoidedOverwritten = 6, // the block's samples were overwritten, or the phone reconnected
    VoidedGap = 7, // the block crosses a hole in the phone's sample indices
    VoidedCorrelation = 8, // no reliable correlation peak, or a block of the wrong size
    VoidedRatio = 9, // the phone's clock is too far off
    Interrupted = 10, // the phone captured digital silence
    RunComplete = 11, // enough valid sweep blocks were measured
};
