#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdio>

namespace halvorn::cli {

// The tool's standard output and its progress line.
//
// Standard output carries the results only (a table, or exactly one JSON
// document with --json). The core writes diagnostic dumps to stdout
// (network start-up lines, search traces); so that they never get mixed
// into the results, the constructor moves the real standard output to a
// private descriptor and points descriptor 1 at standard error (with
// --verbose) or at /dev/null. The destructor puts it back.
//
// Progress goes to standard error, only when that is a terminal, as one
// line rewritten in place.
class CliOutput
{
public:
    explicit CliOutput(bool verbose);
    ~CliOutput();

    CliOutput(const CliOutput&) = delete;
    CliOutput& operator=(const CliOutput&) = delete;

    // Results, on the real standard output, flushed at once.
    void write(const QString& text);
    void writeJson(const QJsonObject& document);
    // A message for the user on standard error (ends the progress line first).
    void error(const QString& text);

    bool showsProgress() const { return m_progress; }
    void progress(const QString& text);
    void endProgress();

    // Columns padded to their widest cell; the header underlined.
    static QString table(const QStringList& header, const QList<QStringList>& rows);

private:
    std::FILE* m_out = nullptr;
    int m_savedStdout = -1;
    bool m_progress = false;
    bool m_progressShown = false;
};

} // namespace halvorn::cli
