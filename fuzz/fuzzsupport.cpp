#include "fuzz/fuzzsupport.h"

#include "fuzz/replyscript.h"
#include "general/device.h"
#include "general/log.h"
#include "general/logmessage.h"
#include "general/network.h"
#include "general/networklog.h"
#include "km/keymarknetwork.h"
#include "sim/simdongle.h"
#include "sim/siminstallation.h"
#include "sim/virtualportline.h"
#include "tests/support/portlinefixture.h"
#include "usb/usbdongle.h"
#include "vx/vxnetwork.h"
#include "dali/dalinetwork.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QPointer>
#include <QThread>

#include <cstdio>
#include <cstdlib>

namespace halvorn::fuzz {

namespace {

constexpr int StartTimeoutMs = 30000;
// Queued timer stops need the network threads to run once.
constexpr int QuietenMs = 100;
// Logs and removed devices are tidied every so many inputs.
constexpr int TidyEvery = 64;

void dropMessage(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "fatal: %s\n", qPrintable(message));
        std::abort();
    }
}

// The target logs far faster than a real bus could: waits until the log's
// thread has appended everything queued so far (its queue is first in, first
// out), then clears the log, so that the backlog never grows.
void catchUpAndClear(general::Log* log)
{
    if (!log)
        return;
    if (log->thread() != QThread::currentThread())
        QMetaObject::invokeMethod(log, [] {}, Qt::BlockingQueuedConnection);
    log->clear();
}

QList<general::Network*> networksOf(usb::USBDongle* dongle)
{
    QList<general::Network*> networks;
    for (general::Network* network :
         {dongle->daliNetwork(), dongle->vxNetwork(), dongle->keymarkNetwork()}) {
        if (network)
            networks.append(network);
    }
    return networks;
}

} // namespace

void ensureApplication()
{
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "tivaro-fuzz";
    static char* argv[] = {name, nullptr};
    qInstallMessageHandler(dropMessage);
    new QCoreApplication(argc, argv); // lives as long as the process
}

void settle(int ms)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents(QEventLoop::AllEvents, ms);
}

ByteReader::ByteReader(const uint8_t* data, size_t size)
    : m_data(data)
    , m_size(size)
{
}

bool ByteReader::atEnd() const
{
    std::lock_guard locker(m_mutex);
    return m_position >= m_size;
}

uint8_t ByteReader::next(uint8_t fallback)
{
    std::lock_guard locker(m_mutex);
    return m_position < m_size ? m_data[m_position++] : fallback;
}

uint16_t ByteReader::next16(uint16_t fallback)
{
    const uint8_t high = next(uint8_t(fallback >> 8));
    return uint16_t(high << 8 | next(uint8_t(fallback & 0xFF)));
}

QByteArray ByteReader::take(int n)
{
    std::lock_guard locker(m_mutex);
    const size_t count = std::min(m_size - std::min(m_position, m_size), size_t(std::max(n, 0)));
    QByteArray bytes(reinterpret_cast<const char*>(m_data + m_position), qsizetype(count));
    m_position += count;
    return bytes;
}

TextTap::TextTap()
{
    general::Log::addTap(this);
}

TextTap::~TextTap()
{
    general::Log::removeTap(this);
}

void TextTap::messageAppended(const general::Log&, const general::LogMessage& message)
{
    // The texts are computed for their side effects on the decoders only.
    const qsizetype length = message.text().size() + message.toolTip().size() + message.toString().size();
    if (length >= 0)
        ++m_count;
}

FuzzPortline& FuzzPortline::instance()
{
    static FuzzPortline* const portline = new FuzzPortline; // never torn down: threads may still run
    return *portline;
}

FuzzPortline::FuzzPortline()
{
    ensureApplication();
    m_fixture = std::make_unique<PortlineFixture>(sim::SimInstallation::builtIn());
    if (!m_fixture->start(StartTimeoutMs)) {
        std::fprintf(stderr, "FuzzPortline: the virtual Portline did not start\n");
        std::abort();
    }
    // A reply the script drops must not cost the fixture's 20 ms.
    m_fixture->portline().setTimeoutWaitMs(0);
    quieten();
    for (general::Network* network : networksOf(dongle())) {
        for (int i = 0; i < network->deviceCount(); ++i)
            m_ownDevices.append(network->deviceAt(i));
    }
    m_tap = std::make_unique<TextTap>();
}

usb::USBDongle* FuzzPortline::dongle() const
{
    return m_fixture->dongle();
}

void FuzzPortline::quieten()
{
    for (general::Network* network : networksOf(dongle()))
        network->stopStatusTimer();
    if (auto* keymark = qobject_cast<km::KeymarkNetwork*>(dongle()->keymarkNetwork()))
        keymark->stopPolling();
    if (auto* vx = qobject_cast<vx::VxNetwork*>(dongle()->vxNetwork()))
        vx->stopDMXOutput();
    const QDeadlineTimer deadline(QuietenMs);
    while (!deadline.hasExpired())
        settle(10);
}

void FuzzPortline::run(const uint8_t* data, size_t size,
                       const std::function<void(ByteReader&)>& operations)
{
    ByteReader input(data, size);
    ReplyScript script(input);
    const std::shared_ptr<sim::SimDongle> simDongle = m_fixture->simDongle();
    {
        // The same equipment for every input, whatever the last one did to it.
        auto guard = simDongle->lock();
        static const QJsonObject entry =
            sim::SimInstallation::builtIn().value(QStringLiteral("dongles")).toArray().first().toObject();
        QString error;
        if (!simDongle->load(entry, &error)) {
            std::fprintf(stderr, "FuzzPortline: %s\n", qPrintable(error));
            std::abort();
        }
        simDongle->daliBus().clearForwardFrames();
        simDongle->keymarkPort().clearFrames();
        simDongle->setReplyScript(
            [&script](const QByteArray& request, const QByteArray& reply) { return script.reply(request, reply); });
    }

    operations(input);

    simDongle->setReplyScript({});
    if (++m_runs % TidyEvery == 0)
        tidyUp();
}

void FuzzPortline::tidyUp()
{
    for (general::Network* network : networksOf(dongle())) {
        // Devices found by searches go; the devices the networks made for
        // themselves stay.
        for (int i = network->deviceCount() - 1; i >= 0; --i) {
            general::Device* device = network->deviceAt(i);
            if (device && !m_ownDevices.contains(device))
                network->removeDevice(device);
        }
        catchUpAndClear(network->log());
    }
    for (general::Network* network : {dongle()->daliNetwork(), dongle()->keymarkNetwork()}) {
        if (auto* dali = qobject_cast<dali::DaliNetwork*>(network))
            catchUpAndClear(dali->simpleLog());
    }
    catchUpAndClear(general::mainLog());
    settle();
}

} // namespace halvorn::fuzz
