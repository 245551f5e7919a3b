// The log line of a command/reply frame on the DMX line (Chorus, RDM or
// neither), for every frame of up to 80 bytes and every message type.
// Checks what the decoded columns must say whatever the bytes are: the copy
// of the frame, the hex column, the protocol, and the types only
// classification may give.
#include "fuzz/fuzzsupport.h"
#include "vx/vxnetworklogmessage.h"

#include <QThread>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace halvorn;
using vx::VxNetworkLogMessage;

namespace {

void fail(const char* what, const QString& line)
{
    std::fprintf(stderr, "fuzz_vxlogmessage: %s: \"%s\"\n", what, qPrintable(line));
    std::abort();
}

QString hexOf(const QByteArray& bytes)
{
    QString text;
    for (const char byte : bytes)
        text += QStringLiteral("%1 ").arg(quint8(byte), 2, 16, QLatin1Char('0')).toUpper();
    return text;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::ensureApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const auto msgClass = general::MessageClass(data[0] % 16);
    const auto type = general::MessageType(data[1] % 12);
    const quint8* frame = data + 2;
    const int length = int(size - 2);

    const VxNetworkLogMessage message(msgClass, type, QThread::currentThread(), frame, length);
    const QString line = message.text();
    message.toString();

    const QByteArray expected(reinterpret_cast<const char*>(frame), qMin(length, VxNetworkLogMessage::MaxFrameLength));
    if (message.frame() != expected || message.frameLength() != expected.size())
        fail("the message does not hold the frame's first 64 bytes", line);
    if (message.hexText() != hexOf(expected))
        fail("the hex column is not the frame", line);
    if (!message.isClassified())
        fail("a message left unclassified", line);
    if (line.contains(QLatin1Char('\n')))
        fail("a log line with a line break", line);

    const bool chorus = !expected.isEmpty() && quint8(expected[0]) == 0xD0 && type != general::FAILURE;
    const bool rdm = !expected.isEmpty() && quint8(expected[0]) == 0xCC && type != general::FAILURE;
    if (chorus != (message.protocol() == VxNetworkLogMessage::ChorusProtocol)
        || rdm != (message.protocol() == VxNetworkLogMessage::RdmProtocol))
        fail("the protocol does not follow the start byte", line);
    if (chorus && !line.startsWith(QLatin1String("CHORUS  ")))
        fail("a Chorus frame without its protocol column", line);
    if (rdm && !line.startsWith(QLatin1String("RDM ")))
        fail("an RDM frame without its protocol column", line);
    if (chorus && expected.size() != 9 && message.type() != general::FAILURE)
        fail("a Chorus frame that is not 9 bytes long passed as sound", line);
    if (rdm && expected.size() < 26 && message.type() != general::FAILURE)
        fail("an RDM frame too short for its header passed as sound", line);

    // Classification only ever turns a frame into a reply, warning, failure
    // or checksum error.
    if (message.type() != type) {
        static constexpr general::MessageType Reclassified[] = {general::REPLY, general::WARN,
                                                                general::FAILURE, general::ERRCS};
        if (std::find(std::begin(Reclassified), std::end(Reclassified), message.type()) == std::end(Reclassified))
            fail("an unexpected message type", line);
    }

    const VxNetworkLogMessage missing(msgClass, general::NOREPLY, QThread::currentThread());
    if (!missing.text().endsWith(QLatin1String("No answer")))
        fail("a missing answer not said so", missing.text());
    return 0;
}
