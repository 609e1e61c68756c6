// Bytes on an RTSP connection, read as the responder reads requests and as the route client
// reads responses: message after message from the front of the buffer, until one is incomplete
// or too large. A request read is written back and read again.
#include "audio/aes67/RtspCodec.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace audio::aes67;

namespace {

void readRequests(QByteArray buffer)
{
    for (;;) {
        rtsp::Request request;
        qsizetype consumed = 0;
        const rtsp::Parse parse
                = rtsp::parseRequest(buffer, rtsp::maxRequestBody, request, consumed);
        if (parse != rtsp::Parse::Complete && parse != rtsp::Parse::Malformed)
            return;
        if (parse == rtsp::Parse::Complete) {
            rtsp::Request again;
            qsizetype used = 0;
            rtsp::parseRequest(rtsp::serializeRequest(request), rtsp::maxRequestBody, again, used);
            (void)rtsp::serializeResponse(200, request.cseq, request.headers, request.body);
        }
        buffer.remove(0, consumed);
    }
}

void readResponses(QByteArray buffer)
{
    for (;;) {
        rtsp::Response response;
        qsizetype consumed = 0;
        if (rtsp::parseResponse(buffer, rtsp::maxResponseBody, response, consumed)
            != rtsp::Parse::Complete)
            return;
        (void)rtsp::findHeader(response.headers, QStringLiteral("Session"))
                .section(QLatin1Char(';'), 0, 0);
        buffer.remove(0, consumed);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = snt::fuzz::bytes(data, size);
    readRequests(input);
    readResponses(input);
    return 0;
}
