#pragma once

#include <QByteArray>
#include <QObject>

namespace halvorn::km {

// An image of the 128-byte memory of a Keymark tag, with the settings it
// holds as properties:
//
//   byte 0      checksum: 8-bit sum of bytes 1..127
//   byte 16     thermal throttling temperature
//   bytes 17-24 output currents 1..4, high byte first
//
// Every setter stores its value and emits its change signal, even when the
// value is the same; bulk changes (clear, copyFrom) emit every change signal.
// The checksum is not kept up to date on its own: call updateChecksum()
// before the image is written to a tag.
//
// Not thread-safe: use it from one thread.
class KeymarkTag : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int thermalThrottlingTemp READ thermalThrottlingTemp WRITE setThermalThrottlingTemp
                   NOTIFY thermalThrottlingTempChanged)
    Q_PROPERTY(int current1 READ current1 WRITE setCurrent1 NOTIFY current1Changed)
    Q_PROPERTY(int current2 READ current2 WRITE setCurrent2 NOTIFY current2Changed)
    Q_PROPERTY(int current3 READ current3 WRITE setCurrent3 NOTIFY current3Changed)
    Q_PROPERTY(int current4 READ current4 WRITE setCurrent4 NOTIFY current4Changed)
    Q_PROPERTY(int checksum READ checksum WRITE setChecksum NOTIFY checksumChanged)

public:
    static constexpr int Size = 128;
    static constexpr int ChecksumIndex = 0;
    static constexpr int ThermalThrottlingTempIndex = 16;
    static constexpr int Current1Index = 17;
    static constexpr int CurrentCount = 4;

    // All bytes zero.
    KeymarkTag();

    int thermalThrottlingTemp() const;
    int current1() const { return current(0); }
    int current2() const { return current(1); }
    int current3() const { return current(2); }
    int current4() const { return current(3); }
    int checksum() const;

    // Byte properties keep the low 8 bits, currents the low 16.
    void setThermalThrottlingTemp(int value);
    void setCurrent1(int value) { setCurrent(0, value); }
    void setCurrent2(int value) { setCurrent(1, value); }
    void setCurrent3(int value) { setCurrent(2, value); }
    void setCurrent4(int value) { setCurrent(3, value); }
    void setChecksum(int value);

    // Current of source 0..3 (0 for any other index); the setter ignores
    // other indices.
    int current(int source) const;
    void setCurrent(int source, int value);

    int size() const { return int(m_bytes.size()); }
    // 0 for an index outside the image.
    quint8 byteAt(int index) const;
    // Grows the image (with zeros) when the index lies beyond it; a negative
    // index is ignored.
    void setByte(int index, quint8 value);
    // High byte at index, low byte at index + 1.
    void setWord(int index, quint16 value);
    QByteArray bytes() const { return m_bytes; }

    void clear();
    // Copies bytes 0..127 of `other` (nothing for null or itself).
    void copyFrom(const KeymarkTag* other);
    // Byte 0 ← 8-bit sum of bytes 1..size−1; emits nothing.
    void updateChecksum();

Q_SIGNALS:
    void thermalThrottlingTempChanged();
    void current1Changed();
    void current2Changed();
    void current3Changed();
    void current4Changed();
    void checksumChanged();

private:
    void emitCurrentChanged(int source);
    void emitAllChanged();

    QByteArray m_bytes;
};

} // namespace halvorn::km
