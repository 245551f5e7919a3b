#include "general/bytedata.h"

#include <QMutexLocker>

namespace halvorn::general {

ByteData::ByteData(int count, QObject* parent)
    : QObject(parent)
    , m_bytes(qMax(count, 0), '\0')
{
}

int ByteData::count() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_bytes.size());
}

quint8 ByteData::byte(int idx) const
{
    QMutexLocker lock(&m_mutex);
    return idx >= 0 && idx < m_bytes.size() ? quint8(m_bytes.at(idx)) : 0;
}

QByteArray ByteData::bytes() const
{
    QMutexLocker lock(&m_mutex);
    return m_bytes;
}

void ByteData::resize(int count)
{
    count = qMax(count, 0);
    int oldCount = 0;
    {
        QMutexLocker lock(&m_mutex);
        oldCount = int(m_bytes.size());
        if (oldCount == count)
            return;
        m_bytes.resize(count, '\0');
    }
    emit byteCountChanged(oldCount, count);
}

bool ByteData::setByte(int idx, quint8 value)
{
    {
        QMutexLocker lock(&m_mutex);
        if (idx < 0 || idx >= m_bytes.size() || quint8(m_bytes.at(idx)) == value)
            return false;
        m_bytes[idx] = char(value);
    }
    emit dataChanged(idx, value);
    return true;
}

} // namespace halvorn::general
