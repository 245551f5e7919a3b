#include "tests/support/testhelpers.h"

#include <QMetaObject>
#include <QObject>
#include <QTest>

#include <atomic>
#include <memory>

namespace halvorn::test {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

QByteArray checksummed(const char* text)
{
    QByteArray bytes = hex(text);
    quint8 sum = 0;
    for (char c : bytes)
        sum = quint8(sum + quint8(c));
    return bytes.append(char(sum));
}

bool settle(QObject* target, int timeoutMs)
{
    // Shared, so that a late run after a time-out touches nothing freed.
    auto done = std::make_shared<std::atomic<bool>>(false);
    QMetaObject::invokeMethod(target, [done] { *done = true; }, Qt::QueuedConnection);
    return QTest::qWaitFor([done] { return done->load(); }, timeoutMs);
}

} // namespace halvorn::test
