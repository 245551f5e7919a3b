#pragma once

#include <QString>
#include <QtGlobal>

#include <string_view>

namespace halvorn::vx {

// The names and descriptions of the drivers' parameters 0 … 230, one
// record per number (record i describes parameter i). A record is a number
// byte (not used: it differs from the index in records 131–133), a name of
// at most 99 characters and a description of at most 258 (it may contain
// HTML; it is shown as a tool tip). Unnamed records have empty texts.
//
// To describe a further driver parameter, add a line to the list in
// driverparametertable.cpp; the compiler checks the lengths and the order.
class DriverParameterTable
{
public:
    static constexpr int RecordCount = 231;
    static constexpr int NameCapacity = 100;
    static constexpr int DescriptionCapacity = 259;

    struct Record {
        quint8 number = 0;
        std::string_view name;
        std::string_view description;
    };

    // The record of parameter `number`; nullptr from 231 on.
    static const Record* record(uint number);
    // The name, or "Unknown parameter" when the record has none or there is no record.
    static QString name(uint number);
    // The description, or "Unknown parameter" when the record has no name.
    static QString description(uint number);
    static int namedRecordCount();
    static int describedRecordCount();
};

} // namespace halvorn::vx
