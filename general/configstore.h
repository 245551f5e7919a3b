#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

namespace halvorn::general {

// The process-wide settings tree, filled from JSON files at start-up and read
// through key paths whose segments are separated by '|' ("Application|Name").
// Empty segments are ignored: "A||B", "|A|B" and "A|B|" all mean "A|B".
//
// Each import adds the top-level members of a file's root object. A later
// occurrence of a top-level key hides the earlier ones with their whole
// subtree: objects are never merged across files.
//
// Lookups never fail loudly: when a key path does not resolve (or the value
// has the wrong type) they return false and leave the output untouched, so
// callers preset their defaults. The tree is filled on the UI thread before
// worker threads start; lookups are safe from any thread.
class ConfigStore
{
public:
    ConfigStore() = delete;

    // Imports one JSON file. False only when the file cannot be opened; a
    // file with a syntax error is logged and contributes nothing.
    static bool importFile(const QString& path);
    // Forgets every import (tests and fuzzing start each case afresh).
    static void clear();

    static bool getValue(const QString& keyPath, QVariant& out);
    // True whenever the path resolves; the value converted to text.
    static bool getString(const QString& keyPath, QString& out);
    // `out` is written whenever the path resolves; true only when the value
    // also converts to an int ("12" does, "abc" does not).
    static bool getInt(const QString& keyPath, int& out);
    static bool getBool(const QString& keyPath, bool& out);
    static bool getFloat(const QString& keyPath, float& out);
    // The value must be a JSON array; each element converted to text.
    static bool getStringList(const QString& keyPath, QStringList& out);
    // The value must be a JSON object; its member names in ascending order.
    static bool getKeys(const QString& keyPath, QStringList& out);
};

} // namespace halvorn::general
