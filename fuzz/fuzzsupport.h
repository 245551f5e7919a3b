#pragma once

#include "general/log.h"

#include <QByteArray>
#include <QList>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class PortlineFixture;

namespace halvorn::general {
class Device;
}

namespace halvorn::usb {
class USBDongle;
}

namespace halvorn::fuzz {

// Creates the QCoreApplication the targets need (threads, timers, queued
// calls) on the first call, and silences Qt's debug output: a target that
// prints on every input runs at a fraction of its speed.
void ensureApplication();

// Runs pending events of the calling thread (deferred deletes, queued log
// announcements) for at most `ms` milliseconds.
void settle(int ms = 0);

// Reads fuzzer input front to back. Once the input is used up every read
// returns the fallback, so a target never needs to check the length.
// Thread-safe: the reply script reads it in whichever thread talks to the
// dongle.
class ByteReader
{
public:
    ByteReader(const uint8_t* data, size_t size);

    bool atEnd() const;
    uint8_t next(uint8_t fallback = 0);
    uint16_t next16(uint16_t fallback = 0);
    // At most n bytes (fewer at the end of the input).
    QByteArray take(int n);

private:
    mutable std::mutex m_mutex;
    const uint8_t* m_data;
    size_t m_size;
    size_t m_position = 0; // guarded by m_mutex
};

// A log tap that asks every appended message for its text, tool tip and
// saved line, so that the protocol decoders run on every frame the tool
// logs while a target drives a network. Counts the messages.
class TextTap : public general::LogTap
{
public:
    TextTap();
    ~TextTap() override;
    void messageAppended(const general::Log& log, const general::LogMessage& message) override;
    int count() const { return m_count; }

private:
    std::atomic<int> m_count{0};
};

// A Portline on the virtual bus with the simulator's built-in installation
// (DALI gear, drivers with a daisy chain, a Keymark tag), opened and
// initialised once per process. Its networks' timers are stopped so that
// only the target talks to the dongle, and silent transfers end at once.
//
// run() answers every exchange the target makes with a reply chosen from
// the input (see ReplyScript); the first bytes of the input drive the
// target's operations from the same reader. Between inputs, devices a
// search created are removed and the logs are cleared, so that memory stays
// flat over millions of inputs.
class FuzzPortline
{
public:
    static FuzzPortline& instance();

    usb::USBDongle* dongle() const;
    PortlineFixture& fixture() const { return *m_fixture; }

    void run(const uint8_t* data, size_t size, const std::function<void(ByteReader&)>& operations);
    // run() with up to `mostOperations` operations on `target`, each taking
    // its arguments from the input.
    template <typename Target>
    void runOperations(const uint8_t* data, size_t size, Target* target, int mostOperations,
                       void (*operate)(Target*, ByteReader&))
    {
        run(data, size, [=](ByteReader& input) {
            for (int i = 0; i < mostOperations && !input.atEnd(); ++i)
                operate(target, input);
        });
    }

private:
    FuzzPortline();
    void quieten();
    void tidyUp();

    std::unique_ptr<PortlineFixture> m_fixture;
    std::unique_ptr<TextTap> m_tap;
    QList<const general::Device*> m_ownDevices;
    int m_runs = 0;
};

} // namespace halvorn::fuzz
