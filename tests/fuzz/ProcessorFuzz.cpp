// What the processor sends the client: records of kind 0 are a full parameter read (the reply
// to CURSOR), kind 1 a reply whose keys are merged into the cache (a preset command's), kind 2 a
// message of the level socket. After each, the panel's views of the client are read.
#include "processor/ProcessorClient.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QJsonDocument>

namespace {

constexpr int inputs = 4, outputs = 8, speakers = 8;

QJsonObject replyData(const QByteArray &body)
{
    // As the transport takes it: the "data" object when there is one, else the whole reply.
    const QJsonObject reply = QJsonDocument::fromJson(body).object();
    const QJsonValue data = reply.value(QLatin1String("data"));
    return data.isObject() ? data.toObject() : reply;
}

void readViews(const ProcessorClient &client)
{
    (void)client.inputs();
    (void)client.outputs();
    (void)client.levelsIn();
    (void)client.levelsOut();
    (void)client.readPresets();
    for (int idx = 0; idx < outputs; ++idx) {
        (void)client.readEqChannel(true, idx);
        if (idx < inputs)
            (void)client.readEqChannel(false, idx);
    }
    for (int speaker = 0; speaker < speakers; ++speaker)
        (void)client.readDynamics(speaker);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static ProcessorClient client;
    client.replaceCache(QJsonObject()); // every input starts from a client that has read nothing
    snt::fuzz::Records records(snt::fuzz::bytes(data, size));
    for (snt::fuzz::Records::Record record; records.next(record);) {
        switch (record.kind % 3) {
        case 0:
            client.replaceCache(replyData(record.bytes));
            break;
        case 1:
            client.mergeParams(replyData(record.bytes));
            break;
        default:
            client.handleLevelMessage(QString::fromUtf8(record.bytes));
            break;
        }
        readViews(client);
    }
    return 0;
}
