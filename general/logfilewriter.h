#pragma once

#include "general/log.h"

#include <QFile>
#include <QString>

#include <mutex>

namespace halvorn::general {

// Writes every message appended to any log as one line, "<log name>: " and
// the message's toString(), to a file or to standard error, as it is
// appended (the program's --log-file and the command line tool's --verbose).
// Lines are written whole and flushed one by one, from whichever thread logs.
//
// The writer registers itself as a log tap when it could open its output and
// unregisters when destroyed.
class LogFileWriter : public LogTap
{
public:
    // Appends to the file at `path`, creating it when needed.
    explicit LogFileWriter(const QString& path);
    // Writes to standard error.
    LogFileWriter();
    ~LogFileWriter() override;

    LogFileWriter(const LogFileWriter&) = delete;
    LogFileWriter& operator=(const LogFileWriter&) = delete;

    bool isOpen() const { return m_open; }
    // Why the output could not be opened.
    QString errorString() const { return m_errorString; }

    void messageAppended(const Log& log, const LogMessage& message) override;

private:
    void install();

    std::mutex m_mutex;
    QFile m_file; // guarded by m_mutex
    bool m_open = false;
    QString m_errorString;
};

} // namespace halvorn::general
