// The network sender's hot paths: push() on the generator thread (p99 of single calls), turning
// the ring into one 1 ms RTP packet, and the real send thread for 10 s to a unicast receiver on
// 127.0.0.1, where the kernel's arrival times show how closely packets follow the 1 ms grid.
#include "audio/aes67/FrameRing.h"
#include "audio/aes67/RtpPacket.h"
#include "audio/aes67/RtpSendThread.h"
#include "audio/aes67/Sender.h"
#include "bench/BenchSupport.h"

#include <QCoreApplication>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <time.h>
#include <unistd.h>

using namespace audio::aes67;

namespace {

qint64 nowNs(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// Times every call of `body` and reports the median and the 99th percentile in µs.
template<typename Body, typename Between>
void timeEachCall(benchmark::State &state, Body body, Between between)
{
    std::vector<double> us;
    us.reserve(1 << 20);
    for (auto _ : state) {
        const qint64 start = nowNs(CLOCK_MONOTONIC);
        body();
        us.push_back(double(nowNs(CLOCK_MONOTONIC) - start) / 1000.0);
        state.PauseTiming();
        between();
        state.ResumeTiming();
    }
    state.counters["p50_us"] = percentile(us, 0.50);
    state.counters["p99_us"] = percentile(us, 0.99);
}

// push() of range(0) frames at range(1) channels into a ring that is emptied after each call (the
// steady state), or, with range(2), into one nobody reads, where every call overflows.
void BM_Push(benchmark::State &state)
{
    const qint64 frames = state.range(0);
    const int channels = int(state.range(1));
    const bool overflow = state.range(2);
    Sender *sender = Sender::instance();
    sender->setRunning(true);
    const std::vector<float> block(size_t(frames * channels), 0.25f);
    std::vector<float> drained(size_t(FrameRing::capacity * FrameRing::slotsPerFrame));
    timeEachCall(
            state, [&] { sender->push(block.data(), frames, channels, 48000); },
            [&] {
                if (!overflow)
                    sender->ring().read(drained.data(), FrameRing::capacity);
            });
    sender->setRunning(false);
    state.SetItemsProcessed(state.iterations() * frames);
}

// One packet of 48 ring frames, full-scale noise with clipping, at range(0) channels.
void BM_Packetise(benchmark::State &state)
{
    const int channels = int(state.range(0));
    const QList<float> noiseFrames = noise(framesPerPacket * FrameRing::slotsPerFrame, 7);
    std::vector<float> frames(noiseFrames.begin(), noiseFrames.end());
    for (float &f : frames)
        f *= 4.0f; // some samples beyond full scale
    char packet[maxRtpPacketBytes];
    RtpHeader header;
    timeEachCall(
            state,
            [&] {
                benchmark::DoNotOptimize(writeRtpPacket(packet, header, frames.data(),
                                                        framesPerPacket, channels, 8));
                ++header.sequence;
            },
            [] {});
}

// The send thread for 10 s (the packets that arrive within 10 s of its first deadline), fed 240 frames every 5 ms as the generator feeds it, sending to a
// socket on 127.0.0.1 that takes the kernel's arrival time of each packet.
void BM_SendThread(benchmark::State &state)
{
    constexpr qint64 runNs = 10'000'000'000;
    for (auto _ : state) {
        const int receiver = ::socket(AF_INET, SOCK_DGRAM, 0);
        const int on = 1;
        setsockopt(receiver, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        const int big = 8 << 20;
        setsockopt(receiver, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(receiver, reinterpret_cast<sockaddr *>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(receiver, reinterpret_cast<sockaddr *>(&address), &length);

        auto ring = std::make_unique<FrameRing>();
        std::atomic<bool> feeding{true};
        std::thread feeder([&] {
            const std::vector<float> block(240 * 8, 0.25f);
            qint64 next = nowNs(CLOCK_MONOTONIC);
            while (feeding) {
                ring->write(block.data(), 240, 8);
                next += 5'000'000;
                timespec t{time_t(next / 1'000'000'000), long(next % 1'000'000'000)};
                clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr);
            }
        });

        RtpSendThread thread(*ring);
        RtpStreamSettings settings;
        settings.destination = QHostAddress(QHostAddress::LocalHost);
        settings.port = ntohs(address.sin_port);
        settings.channels = 8;
        settings.startNs = nowNs(CLOCK_MONOTONIC) + 20'000'000;
        // Real-time stamps of the kernel, moved onto the monotonic clock the grid lives on.
        const qint64 realMinusMonotonic = nowNs(CLOCK_REALTIME) - nowNs(CLOCK_MONOTONIC);
        QString error;
        thread.start(settings, &error);

        std::vector<double> deviationUs;
        qint64 received = 0, gaps = 0;
        int lastSequence = -1;
        const timeval timeout{0, 200'000};
        setsockopt(receiver, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        while (true) {
            char data[maxRtpPacketBytes];
            alignas(cmsghdr) char control[64];
            iovec io{data, sizeof data};
            msghdr message{};
            message.msg_iov = &io;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            if (::recvmsg(receiver, &message, 0) < rtpHeaderBytes)
                break;
            timespec stamp{};
            memcpy(&stamp, CMSG_DATA(CMSG_FIRSTHDR(&message)), sizeof stamp);
            const qint64 arrival
                    = qint64(stamp.tv_sec) * 1'000'000'000 + stamp.tv_nsec - realMinusMonotonic;
            if (arrival >= settings.startNs + runNs)
                break;
            const qint64 index = received++;
            deviationUs.push_back(double(arrival - settings.startNs - index * 1'000'000) / 1000.0);
            const int sequence = quint8(data[2]) << 8 | quint8(data[3]);
            gaps += lastSequence >= 0 && sequence != ((lastSequence + 1) & 0xFFFF);
            lastSequence = sequence;
        }
        thread.stop();
        feeding = false;
        feeder.join();
        ::close(receiver);

        state.counters["p50_us"] = percentile(deviationUs, 0.50);
        state.counters["p99_us"] = percentile(deviationUs, 0.99);
        state.counters["max_us"] = *std::max_element(deviationUs.begin(), deviationUs.end());
        state.counters["packets"] = double(received);
        state.counters["gaps"] = double(gaps);
        state.counters["underruns"] = double(thread.underruns());
    }
}

} // namespace

BENCHMARK(BM_Push)->ArgsProduct({{240, 4800}, {2, 8}, {0}})->Args({4800, 8, 1});
BENCHMARK(BM_Packetise)->Arg(2)->Arg(8);
BENCHMARK(BM_SendThread)->Iterations(1)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return runBenchmarks(argc, argv);
}
