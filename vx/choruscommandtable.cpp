#include "vx/choruscommandtable.h"

namespace halvorn::vx {

namespace {

struct NamedCode {
    quint8 code;
    std::string_view name;
    quint8 flag;
};

// To name a further code, add a line here.
constexpr NamedCode kNamedCodes[] = {
    {0x08, "CH_EC_GUID", 1},
    {0x09, "CH_EC_WRSNUM", 1},
    {0x0A, "CH_EC_UIDRANGE_LOW", 0},
    {0x0C, "CH_EC_UNMUTEALL", 0},
    {0x0D, "CH_EC_RDP", 1},
    {0x0E, "CH_EC_WRP", 1},
    {0x0F, "CH_EC_NOP", 0},
    {0x1A, "CH_EC_UIDRANGE_HIGH", 1},
    {0x1C, "CH_EC_SETMUTE", 1},
    {0x1D, "CH_EC_FINDNEXT", 1},
    {0x85, "CH_EC_RDP (skip)", 1},
    {0x86, "CH_EC_WRP (skip)", 1},
    {0x88, "CH_ER_GUID", 0},
    {0x89, "CH_ER_WRSNUM", 0},
    {0x8A, "CH_ERV_UIDRANGE", 0},
    {0x8C, "CH_ER_SETMUTE", 0},
    {0x8D, "CH_ER_RDPVAL", 0},
    {0x8E, "CH_ER_WRPVAL", 0},
    {0x8F, "CH_ER_NOTSUP", 0},
    {0x95, "CH_EC_FINDNEXT (skip)", 1},
    {0x9D, "CH_ER_FINDNEXT", 0},
    {0xCD, "Unknown parameter", 0},
};

constexpr std::array<ChorusCommandTable::Record, 256> makeTable()
{
    std::array<ChorusCommandTable::Record, 256> table{};
    for (int code = 0; code < 256; ++code) {
        table[size_t(code)].code = quint8(code);
        table[size_t(code)].flag = 0;
    }
    for (const NamedCode& named : kNamedCodes) {
        ChorusCommandTable::Record& record = table[named.code];
        for (size_t i = 0; i < named.name.size() && i < ChorusCommandTable::NameLength - 1; ++i)
            record.name[i] = named.name[i];
        record.flag = named.flag;
    }
    return table;
}

constexpr std::array<ChorusCommandTable::Record, 256> kTable = makeTable();

constexpr bool namesFit()
{
    for (const NamedCode& named : kNamedCodes) {
        if (named.name.size() >= ChorusCommandTable::NameLength)
            return false;
    }
    return true;
}
static_assert(namesFit(), "a Chorus command name does not fit its 40-byte record");
static_assert(kTable[0x85].code == 0x85 && kTable[0xCD].name[0] == 'U');

} // namespace

const ChorusCommandTable::Record& ChorusCommandTable::record(quint8 code)
{
    return kTable[code];
}

QString ChorusCommandTable::name(quint8 code)
{
    const Record& entry = kTable[code];
    return QString::fromLatin1(entry.name, int(qstrnlen(entry.name, NameLength)));
}

} // namespace halvorn::vx
