#pragma once

#include <QByteArray>
#include <QMutex>
#include <QObject>

namespace halvorn::general {

// A resizable array of bytes that announces its changes (a tag image, a
// memory bank). Safe to read and write from any thread; the signals are
// emitted by the changing thread after the change.
class ByteData : public QObject
{
    Q_OBJECT

public:
    explicit ByteData(int count = 0, QObject* parent = nullptr);

    int count() const;
    // The byte at idx, 0 outside 0..count()-1.
    quint8 byte(int idx) const;
    QByteArray bytes() const;

    // New bytes are 0; emits byteCountChanged when the count changes.
    void resize(int count);
    // Stores the byte when idx is in range and the value differs; true then
    // (and dataChanged is emitted).
    bool setByte(int idx, quint8 value);

Q_SIGNALS:
    void byteCountChanged(int oldCount, int newCount);
    void dataChanged(int idx, int newValue);

private:
    mutable QMutex m_mutex;
    QByteArray m_bytes; // guarded by m_mutex
};

} // namespace halvorn::general
