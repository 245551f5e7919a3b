#include "dali/dalicommands.h"

#include <initializer_list>
#include <utility>

namespace halvorn::dali {

namespace {

struct Entry
{
    uint8_t index;
    const char* name;
};

struct AnswerRange
{
    uint8_t first;
    uint8_t last;
};

// The sixteen numbered commands of one row, e.g. "GO TO SCENE 0" .. "GO TO SCENE 15".
// NOLINTBEGIN(bugprone-macro-parentheses): text is a string literal joined to the digits
#define SIXTEEN(base, text)                                                                        \
    {(base) + 0, text "0"}, {(base) + 1, text "1"}, {(base) + 2, text "2"}, {(base) + 3, text "3"},        \
    {(base) + 4, text "4"}, {(base) + 5, text "5"}, {(base) + 6, text "6"}, {(base) + 7, text "7"},        \
    {(base) + 8, text "8"}, {(base) + 9, text "9"}, {(base) + 10, text "10"}, {(base) + 11, text "11"},     \
    {(base) + 12, text "12"}, {(base) + 13, text "13"}, {(base) + 14, text "14"},                        \
    {(base) + 15, text "15"}
// NOLINTEND(bugprone-macro-parentheses)

constexpr Entry standardEntries[] = {
    {0x00, "OFF"},
    {0x01, "UP"},
    {0x02, "DOWN"},
    {0x03, "STEP UP"},
    {0x04, "STEP DOWN"},
    {0x05, "RECALL MAX LEVEL"},
    {0x06, "RECALL MIN LEVEL"},
    {0x07, "STEP DOWN AND OFF"},
    {0x08, "ON AND STEP UP"},
    {0x09, "ENABLE DAPC SEQUENCE"},
    SIXTEEN(0x10, "GO TO SCENE "),
    {0x20, "RESET"},
    {0x21, "STORE ACTUAL LEVEL IN THE DTR"},
    {0x2A, "STORE THE DTR AS MAX LEVEL"},
    {0x2B, "STORE THE DTR AS MIN LEVEL"},
    {0x2C, "STORE THE DTR AS SYSTEM FAILURE LEVEL"},
    {0x2D, "STORE THE DTR AS POWER ON LEVEL"},
    {0x2E, "STORE THE DTR AS FADE TIME"},
    {0x2F, "STORE THE DTR AS FADE RATE"},
    SIXTEEN(0x40, "STORE THE DTR AS SCENE "),
    SIXTEEN(0x50, "REMOVE FROM SCENE "),
    SIXTEEN(0x60, "ADD TO GROUP "),
    SIXTEEN(0x70, "REMOVE FROM GROUP "),
    {0x80, "STORE DTR AS SHORT ADDRESS"},
    {0x81, "ENABLE WRITE MEMORY"},
    {0x90, "QUERY STATUS"},
    {0x91, "QUERY CONTROL GEAR"},
    {0x92, "QUERY LAMP FAILURE"},
    {0x93, "QUERY LAMP POWER ON"},
    {0x94, "QUERY LIMIT ERROR"},
    {0x95, "QUERY RESET STATE"},
    {0x96, "QUERY MISSING SHORT ADDRESS"},
    {0x97, "QUERY VERSION NUMBER"},
    {0x98, "QUERY CONTENT DTR"},
    {0x99, "QUERY DEVICE TYPE"},
    {0x9A, "QUERY PHYSICAL MINIMUM LEVEL"},
    {0x9B, "QUERY POWER FAILURE"},
    {0x9C, "QUERY CONTENT DTR1"},
    {0x9D, "QUERY CONTENT DTR2"},
    {0xA0, "QUERY ACTUAL LEVEL"},
    {0xA1, "QUERY MAX LEVEL"},
    {0xA2, "QUERY MIN LEVEL"},
    {0xA3, "QUERY POWER ON LEVEL"},
    {0xA4, "QUERY SYSTEM FAILURE LEVEL"},
    {0xA5, "QUERY FADE TIME/FADE RATE"},
    SIXTEEN(0xB0, "QUERY SCENE LEVEL "),
    {0xC0, "QUERY GROUP 0-7"},
    {0xC1, "QUERY GROUP 8-15"},
    {0xC2, "QUERY RANDOM ADDRESS (H)"},
    {0xC3, "QUERY RANDOM ADDRESS (M)"},
    {0xC4, "QUERY RANDOM ADDRESS (L)"},
    {0xC5, "READ MEMORY LOCATION"},
    {0xFF, "QUERY EXTENDED VERSION NUMBER"},
};
constexpr AnswerRange standardAnswers[] = {{0x90, 0x9D}, {0xA0, 0xA5}, {0xB0, 0xC5}, {0xFF, 0xFF}};

#undef SIXTEEN

constexpr Entry deviceType6Entries[] = {
    {0xE0, "REFERENCE SYSTEM POWER"},
    {0xE1, "ENABLE CURRENT PROTECTOR"},
    {0xE2, "DISABLE CURRENT PROTECTOR"},
    {0xE3, "SELECT DIMMING CURVE"},
    {0xE4, "STORE DTR AS FAST FADE TIME"},
    {0xED, "QUERY GEAR TYPE"},
    {0xEE, "QUERY DIMMING CURVE"},
    {0xEF, "QUERY POSSIBLE OPERATION MODES"},
    {0xF0, "QUERY FEATURES"},
    {0xF1, "QUERY FAILURE STATUS"},
    {0xF2, "QUERY SHORT CIRCUIT"},
    {0xF3, "QUERY OPEN CIRCUIT"},
    {0xF4, "QUERY LOAD DECREASE"},
    {0xF5, "QUERY LOAD INCREASE"},
    {0xF6, "QUERY CURRENT PROTECTOR ACTIVE"},
    {0xF7, "QUERY THERMAL SHUTDOWN"},
    {0xF8, "QUERY THERMAL OVERLOAD"},
    {0xF9, "QUERY REFERENCE RUNNING"},
    {0xFA, "QUERY REFERENCE MEASUREMENT FAILED"},
    {0xFB, "QUERY CURRENT PROTECTOR ENABLED"},
    {0xFC, "QUERY OPERATING MODE"},
    {0xFD, "QUERY FAST FADE TIME"},
    {0xFE, "QUERY MIN FAST FADE TIME"},
};
constexpr AnswerRange deviceType6Answers[] = {{0xED, 0xFE}};

constexpr Entry deviceType8Entries[] = {
    {0xE0, "SET_TEMPORARY_X_COORDINATE"},
    {0xE1, "SET_TEMPORARY_Y_COORDINATE"},
    {0xE2, "ACTIVATE"},
    {0xE3, "X_COORDINATE_STEP_UP"},
    {0xE4, "X_COORDINATE_STEP_DOWN"},
    {0xE5, "Y_COORDINATE_STEP_UP"},
    {0xE6, "Y_COORDINATE_STEP_DOWN"},
    {0xE7, "SET_TEMPORARY_COLOUR_TEMPERATURE_TC"},
    {0xE8, "COLOUR_TEMPERATURE_TC_STEP_COLDER"},
    {0xE9, "COLOUR_TEMPERATURE_TC_STEP_WARMER"},
    {0xEA, "SET_TEMPORARY_PRIMARY_N_DIMLEVEL"},
    {0xEB, "SET_TEMPORARY_RGB_DIMLEVEL"},
    {0xEC, "SET_TEMPORARY_WAF_DIMLEVEL"},
    {0xED, "SET_TEMPORARY_RGBWAF_CONTROL"},
    {0xEE, "COPY_REPORT_TO_TEMPORARY"},
    {0xF0, "STORE_TY_PRIMARY_N"},
    {0xF1, "STORE_XY_COORDINATE_PRIMARY_N"},
    {0xF2, "STORE_COLOUR_TEMPERATURE_TC_LIMIT"},
    {0xF3, "STORE_GEAR_FEATURES"},
    {0xF5, "ASSIGN_COLOUR_TO_LINKED_CHANNEL"},
    {0xF6, "START_AUTO_CALIBRATION"},
    {0xF7, "QUERY_GEAR_FEATURES"},
    {0xF8, "QUERY_COLOUR_STATUS"},
    {0xF9, "QUERY_COLOUR_TYPE_FEATURES"},
    {0xFA, "QUERY_COLOUR_VALUE"},
    {0xFB, "QUERY_RGBWAF_CONTROL"},
    {0xFC, "QUERY_ASSIGNED_COLOUR"},
};
constexpr AnswerRange deviceType8Answers[] = {{0xF7, 0xFC}};

constexpr Entry specialEntries[] = {
    {0xA1, "TERMINATE"},
    {0xA3, "DATA TRANSFER REGISTER"},
    {0xA5, "INITIALISE"},
    {0xA7, "RANDOMISE"},
    {0xA9, "COMPARE"},
    {0xAB, "WITHDRAW"},
    {0xB1, "SEARCHADDRH"},
    {0xB3, "SEARCHADDRM"},
    {0xB5, "SEARCHADDRL"},
    {0xB7, "PROGRAM SHORT ADDRESS"},
    {0xB9, "VERIFY SHORT ADDRESS"},
    {0xBB, "QUERY SHORT ADDRESS"},
    {0xBD, "PHYSICAL SELECTION"},
    {0xC1, "ENABLE DEVICE TYPE X"},
    {0xC3, "DATA TRANSFER REGISTER 1 (DTR1)"},
    {0xC5, "DATA TRANSFER REGISTER 2 (DTR2)"},
    {0xC7, "WRITE MEMORY LOCATION"},
};
constexpr AnswerRange specialAnswers[] = {{0xA9, 0xA9}, {0xB9, 0xB9}, {0xBB, 0xBB}, {0xC7, 0xC7}};

template <size_t NE, size_t NA>
constexpr DaliCommandTable buildTable(const Entry (&entries)[NE], const AnswerRange (&answers)[NA])
{
    DaliCommandTable table{};
    for (const Entry& entry : entries)
        table[entry.index].name = entry.name;
    for (const AnswerRange& range : answers)
        for (int i = range.first; i <= range.last; ++i)
            table[size_t(i)].answerExpected = true;
    return table;
}

constexpr int nameLength(const char* name)
{
    int length = 0;
    while (name[length] != '\0')
        ++length;
    return length;
}

constexpr bool namesFit(const DaliCommandTable& table)
{
    for (const DaliCommandRecord& record : table)
        if (nameLength(record.name) > 39)
            return false;
    return true;
}

constexpr DaliCommandTable standard = buildTable(standardEntries, standardAnswers);
constexpr DaliCommandTable deviceType6 = buildTable(deviceType6Entries, deviceType6Answers);
constexpr DaliCommandTable deviceType8 = buildTable(deviceType8Entries, deviceType8Answers);
constexpr DaliCommandTable special = buildTable(specialEntries, specialAnswers);

static_assert(namesFit(standard) && namesFit(deviceType6) && namesFit(deviceType8) && namesFit(special),
              "the log's name column holds at most 39 characters");

} // namespace

const DaliCommandTable& DaliCommands::standardTable() { return standard; }
const DaliCommandTable& DaliCommands::deviceType6Table() { return deviceType6; }
const DaliCommandTable& DaliCommands::deviceType8Table() { return deviceType8; }
const DaliCommandTable& DaliCommands::specialTable() { return special; }

const DaliCommandRecord* DaliCommands::record(uint8_t address, uint8_t data, int deviceType)
{
    if (isSpecial(address))
        return &special[address];
    if (isArcPower(address))
        return nullptr;
    if (isExtendedCommand(data)) {
        if (deviceType == 6)
            return &deviceType6[data];
        if (deviceType == 8)
            return &deviceType8[data];
        return nullptr;
    }
    return &standard[data];
}

QString DaliCommands::commandName(uint8_t address, uint8_t data, int deviceType)
{
    const DaliCommandRecord* entry = record(address, data, deviceType);
    if (entry)
        return QString::fromLatin1(entry->name);
    if (isArcPower(address))
        return QString();
    return QString::fromLatin1(DaliUnknownExtension);
}

bool DaliCommands::answerExpected(uint8_t address, uint8_t data, int deviceType)
{
    const DaliCommandRecord* entry = record(address, data, deviceType);
    return entry && entry->answerExpected;
}

} // namespace halvorn::dali
