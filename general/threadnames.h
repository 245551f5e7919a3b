#pragma once

#include <QString>

class QThread;

namespace halvorn::general {

// The process-wide table of thread display names shown in the log's Thread
// column. Guarded by its own lock; callable from any thread.

// Enters or replaces the display name of a thread.
void setThreadName(QThread* thread, const QString& name);

// The registered name of a thread, or the thread pointer's value as an
// unsigned decimal number when the thread has no name.
QString threadName(QThread* thread);

// A small handle for the name a thread has right now, cheap enough to take
// for every log message: messages keep the name their thread had when they
// were logged, even if the thread is renamed later (as the task pool thread
// is for every task). -1 means "no name registered".
int currentThreadNameId(QThread* thread);
QString threadNameForId(int nameId, QThread* thread);

} // namespace halvorn::general
