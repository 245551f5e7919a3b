#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

namespace halvorn::sim {

// The DALI bus behind one simulated dongle, and the dongle's DALI
// transceiver (packet codes 0x0A–0x0C):
//
//   0x0A, 0, address, data, 0   send a forward frame   → 0x8A (accepted)
//   0x0C                        poll the receiver      → 0x8C, status, counter
//   0x0B                        fetch the backward frame → 0x8B, 0, 0, answer, delay
//
// Receiver status bits: 0x04 the receiver has finished (a backward frame is
// ready), 0x08 a faulty backward frame began. The counter is the time since
// the forward frame, advancing by CounterStep per poll and stopping at 255,
// so a tool that waits for an answer that never comes gives up after a
// bounded number of polls.
//
// Equipment: answerFor() decides what the gear on the bus answers to a
// forward frame; this class has no gear yet, so nothing ever answers.
// Gear models go here (load them from the "dali" section of the
// installation file in load(), write them back in save()).
//
// Called only by the owning SimDongle, with the dongle's lock held.
class SimDaliBus
{
public:
    static constexpr quint8 CounterStep = 32;
    // Delay reported with a backward frame, in units of 104 µs.
    static constexpr quint8 AnswerDelay = 20;

    SimDaliBus();

    // One packet with code 0x0A, 0x0B or 0x0C; the reply packet.
    QByteArray handle(const QByteArray& request);

    // The bus has a supply of its own ("powered" in the installation file).
    bool hasExternalSupply() const { return m_externalSupply; }
    void setExternalSupply(bool on) { m_externalSupply = on; }
    // The dongle's own 12 V bus supply (configuration flags bit 0).
    void setDonglePower(bool on) { m_donglePower = on; }
    bool donglePower() const { return m_donglePower; }
    // Bus voltage present: what the dongle reports as "DALI bus connected".
    bool isPowered() const { return m_externalSupply || m_donglePower; }

    // The forward frames the bus carried, oldest first (address << 8 | data).
    QList<quint16> forwardFrames() const { return m_forwardFrames; }
    void clearForwardFrames() { m_forwardFrames.clear(); }

    // The "dali" section of the installation file. False with a message
    // when the section is malformed.
    bool load(const QJsonObject& section, QString* error);
    QJsonObject save() const;

    // Back to the state after power-up (the dongle was plugged in).
    void powerUp();

private:
    // What the gear answers to one forward frame; nothing without gear.
    std::optional<quint8> answerFor(quint8 address, quint8 data);

    QByteArray forwardFrame(const QByteArray& request);
    QByteArray receiverStatus();
    QByteArray backwardFrame();

    static constexpr int MaxRecordedFrames = 4096;

    bool m_externalSupply = false;
    bool m_donglePower = false;
    std::optional<quint8> m_pendingAnswer;
    quint8 m_counter = 255;
    QList<quint16> m_forwardFrames;
};

} // namespace halvorn::sim
