// The DALI log line of forward frames, answers, missing answers and
// failures, for every address, data byte, device type and answer delay.
// Checks the fixed columns against the frame.
#include "dali/dalinetworklogmessage.h"
#include "fuzz/fuzzsupport.h"

#include <QThread>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace halvorn;

namespace {

void fail(const char* what, const QString& line)
{
    std::fprintf(stderr, "fuzz_dalilogmessage: %s: \"%s\"\n", what, qPrintable(line));
    std::abort();
}

QString hexByte(uint8_t value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

void checkLine(const QString& line)
{
    if (line.contains(QLatin1Char('\n')) || line.contains(QLatin1Char('\r')))
        fail("a log line with a line break", line);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::ensureApplication();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::ByteReader input(data, size);
    const uint8_t address = input.next();
    const uint8_t frameData = input.next();
    const int deviceType = int(uint32_t(input.next16()) << 16 | input.next16());
    const uint8_t answer = input.next();
    const uint8_t delay = input.next();
    QThread* thread = QThread::currentThread();

    const std::unique_ptr<dali::DaliNetworkLogMessage> forward(
        dali::DaliNetworkLogMessage::forward(address, frameData, deviceType, thread));
    const QString sent = forward->text();
    checkLine(sent);
    if (!sent.startsWith(QLatin1String("COMMAND ")) && !sent.startsWith(QLatin1String("SPECIAL ")))
        fail("a forward frame without its kind", sent);
    if (sent.mid(8, 5) != hexByte(address) + QLatin1Char(' ') + hexByte(frameData))
        fail("a forward frame whose bytes column is not its bytes", sent);
    forward->toolTip();
    forward->toString();

    const std::unique_ptr<dali::DaliNetworkLogMessage> reply(
        dali::DaliNetworkLogMessage::answer(answer, delay, thread));
    const QString answered = reply->text();
    checkLine(answered);
    if (!answered.startsWith(QLatin1String("ANSWER  ") + hexByte(answer)))
        fail("an answer without its kind and byte", answered);
    if (!answered.endsWith(QStringLiteral("%1 (%2)").arg(answer).arg(hexByte(answer))))
        fail("an answer without its value", answered);

    const std::unique_ptr<dali::DaliNetworkLogMessage> none(dali::DaliNetworkLogMessage::noAnswer(thread));
    if (!none->text().endsWith(QLatin1String("No answer")))
        fail("a missing answer not said so", none->text());
    const std::unique_ptr<dali::DaliNetworkLogMessage> failed(dali::DaliNetworkLogMessage::failure(thread));
    if (!failed->text().endsWith(QLatin1String("Error")))
        fail("a failure not said so", failed->text());
    return 0;
}
