#pragma once

#include <QByteArray>
#include <QObject>

#include <array>
#include <atomic>

namespace halvorn::general {
class Input;
}

namespace halvorn::dmx {

// The set-point buffer of one DMX universe: the 512 slot values that go out
// in every DMX frame, plus the Chorus set-point flags that travel in the
// first block of each frame. DMX address a (1-based) is slot a − 1; a 16-bit
// value occupies two consecutive addresses, high byte first.
//
// The object lives in the DMX output thread, so queued inputValueChanged()
// deliveries are applied there. Everything else may be called from any
// thread: every slot and every flag is a std::atomic, so the output thread
// reads a consistent byte per slot while the network thread, task threads
// or the GUI write channel values, without a lock on the frame path.
// (A frame may mix old and new slots of a change that is under way; the
// next frame, 50 ms later, carries the rest.)
//
// Addresses outside 1..512 are ignored by the writers and read as 0; no
// call ever touches memory outside the buffer.
class DMXSetpoint : public QObject
{
    Q_OBJECT

public:
    static constexpr int SlotCount = 512;

    explicit DMXSetpoint(quint8 universe, QObject* parent = nullptr);

    quint8 universe() const { return m_universe; }

    Q_INVOKABLE void setByte(unsigned short dmxAddress, unsigned char value);
    // High byte at `dmxAddress`, low byte at `dmxAddress` + 1; emits
    // byteChanged for both (for the one that lies inside the buffer when
    // the other does not).
    void setWord(unsigned short dmxAddress, unsigned short value);
    unsigned char getByte(unsigned short dmxAddress) const;
    unsigned short getWord(unsigned short dmxAddress) const;

    // Slot `index` (0-based); 0 outside the buffer. Used by the frame builder.
    quint8 slot(int index) const;
    // A copy of the 512 slots (for views; the frame path never copies).
    QByteArray data() const;

    // Number of addresses in use, 0..512 (larger counts are cut to 512).
    unsigned short channelCount() const { return m_channelCount.load(); }
    // Stores n and zeroes addresses 1..n, announcing each; bytes above n keep their values.
    void setChannelCount(unsigned short n);

    bool chorusOutput() const { return m_chorusOutput.load(); }
    void setChorusOutput(bool enabled) { m_chorusOutput = enabled; }
    quint8 clusterModeIndex() const { return m_clusterModeIndex.load(); }
    void setClusterModeIndex(quint8 index) { m_clusterModeIndex = index; }
    quint8 setpointType() const { return m_setpointType.load(); }
    void setSetpointType(quint8 type) { m_setpointType = type; }

    // Emits byteChanged for addresses 1..channelCount (views redraw everything).
    Q_INVOKABLE void update();

public Q_SLOTS:
    // Stores 255 × the input's value (truncated) at the input's index.
    void inputValueChanged(halvorn::general::Input* input);

Q_SIGNALS:
    void byteChanged(unsigned char uni, unsigned short index);

private:
    static bool isValidAddress(unsigned short dmxAddress)
    {
        return dmxAddress >= 1 && dmxAddress <= SlotCount;
    }

    const quint8 m_universe;
    std::array<std::atomic<quint8>, SlotCount> m_data;
    std::atomic<quint16> m_channelCount{SlotCount};
    std::atomic<bool> m_chorusOutput{false};
    std::atomic<quint8> m_clusterModeIndex{0};
    std::atomic<quint8> m_setpointType{0};
};

} // namespace halvorn::dmx
