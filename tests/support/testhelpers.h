#pragma once

// Shared helpers for the test executables.

#include <QByteArray>

class QObject;

namespace halvorn::test {

// Bytes from hexadecimal text; spaces are ignored: hex("D0 0D 02").
QByteArray hex(const char* text);
// A Chorus or tag frame: the bytes of `text` with their 8-bit sum appended.
QByteArray checksummed(const char* text);
// Waits (bounded, processing events) until everything queued to the thread
// of `target` so far has run; false on the time-out.
bool settle(QObject* target, int timeoutMs = 5000);

} // namespace halvorn::test
