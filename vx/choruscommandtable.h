#pragma once

#include <QString>
#include <QtGlobal>

#include <array>
#include <string_view>

namespace halvorn::vx {

// The names of the Chorus command and reply codes, for the log: 256
// records indexed by code, each a 40-byte zero-padded name, the code
// itself and a flag byte (1 for the commands that carry an address or a
// value; nothing reads it). Codes without a name have an empty record.
class ChorusCommandTable
{
public:
    static constexpr int NameLength = 40;

    struct Record {
        char name[NameLength];
        quint8 code;
        quint8 flag;
    };
    static_assert(sizeof(Record) == 42);

    static const Record& record(quint8 code);
    // The record's name; empty for an unnamed code.
    static QString name(quint8 code);
};

} // namespace halvorn::vx
