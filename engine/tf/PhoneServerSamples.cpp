#include "engine/tf/PhoneServerSamples.h"

#include "audio/phone/AudioStreamServer.h"

PhoneServerSamples::PhoneServerSamples(const audio::AudioStreamServer &server,
                                       const QString &phoneId)
    : server_(server)
    , phoneId_(phoneId)
{ }

bool PhoneServerSamples::connected() const
{
    return server_.hasClient(phoneId_);
}

uint32_t PhoneServerSamples::sampleRate() const
{
    return server_.sampleRate(phoneId_);
}

uint64_t PhoneServerSamples::writeIndex() const
{
    return server_.writeIndex(phoneId_);
}

int PhoneServerSamples::read(uint64_t start, int64_t count, float *out) const
{
    return server_.read(phoneId_, start, count, out);
}

int64_t PhoneServerSamples::lastPacketTimeMs() const
{
    return server_.lastPacketTime(phoneId_);
}
