#include "general/parameterdefinitionreader.h"

#include "general/bitflagparameterview.h"
#include "general/byteparameterview.h"
#include "general/configstore.h"
#include "general/log.h"
#include "general/parameter.h"
#include "general/parameterdevice.h"

#include <QStringList>

#include <cmath>
#include <limits>

namespace halvorn::general {

namespace {

// Settings messages share the class of the settings importer.
constexpr auto kSettingsClass = MessageClass(15);
constexpr uint kSkippedNumber = 0xFFFFFFFFu;
// Real definition files nest a few levels; a hand-edited or damaged file
// nesting hundreds of levels must not exhaust the stack.
constexpr int kMaxGroupDepth = 16;

QString path(const QString& base, const QString& member)
{
    return base + QLatin1Char('|') + member;
}

QStringList membersOf(const QString& keyPath)
{
    QStringList keys;
    if (!ConfigStore::getKeys(keyPath, keys))
        return {};
    keys.sort();
    return keys;
}

int intMember(const QString& keyPath, int defaultValue)
{
    int value = defaultValue;
    if (!ConfigStore::getInt(keyPath, value))
        value = defaultValue;
    return value;
}

bool boolMember(const QString& keyPath)
{
    bool value = false;
    ConfigStore::getBool(keyPath, value);
    return value;
}

QString stringMember(const QString& keyPath)
{
    QString value;
    ConfigStore::getString(keyPath, value);
    return value;
}

int displayModeFromText(const QString& text)
{
    if (text == QLatin1String("Hex"))
        return Parameter::Hexadecimal;
    if (text == QLatin1String("Bin"))
        return Parameter::BinaryMode;
    if (text == QLatin1String("Scale"))
        return Parameter::ScaledMultiply;
    if (text == QLatin1String("ScaleDiv"))
        return Parameter::ScaledDivide;
    return Parameter::Decimal;
}

bool fitsIn32Bits(qint64 value)
{
    return value >= std::numeric_limits<qint32>::min() && value <= qint64(std::numeric_limits<quint32>::max());
}

// A number given as a JSON integer or as a string with base detection.
bool parseNumber(const QVariant& raw, uint& number)
{
    if (raw.typeId() == QMetaType::QString) {
        bool ok = false;
        const qint64 value = raw.toString().trimmed().toLongLong(&ok, 0);
        if (!ok || !fitsIn32Bits(value))
            return false;
        number = uint(value);
        return true;
    }
    if (raw.typeId() == QMetaType::Bool)
        return false;
    bool ok = false;
    const double value = raw.toDouble(&ok);
    // Range first: converting a double beyond 64 bits to an integer is undefined.
    if (!ok || std::floor(value) != value || value < double(std::numeric_limits<qint32>::min())
        || value > double(std::numeric_limits<quint32>::max()))
        return false;
    number = uint(qint64(value));
    return true;
}

} // namespace

void ParameterDefinitionReader::readDevice(ParameterDevice* device, const QString& basePath)
{
    readGroup(device, device, path(basePath, QStringLiteral("Parameters")));
}

void ParameterDefinitionReader::readGroup(ParameterDevice* device, ParameterGroup* group, const QString& keyPath)
{
    readGroup(device, group, keyPath, 0);
}

void ParameterDefinitionReader::readGroup(ParameterDevice* device, ParameterGroup* group, const QString& keyPath,
                                          int depth)
{
    if (!device || !group)
        return;
    if (depth > kMaxGroupDepth) {
        logToMain(kSettingsClass,
                  QStringLiteral("Parameter groups nested more than %1 deep, skipped: %2").arg(kMaxGroupDepth).arg(keyPath),
                  FAILURE);
        return;
    }
    const QStringList members = membersOf(keyPath);
    for (const QString& name : members) {
        const QString memberPath = path(keyPath, name);
        QStringList memberKeys;
        if (!ConfigStore::getKeys(memberPath, memberKeys))
            continue; // not an object: no parameter and no group

        QVariant rawNumber;
        if (!ConfigStore::getValue(path(memberPath, QStringLiteral("Number")), rawNumber)) {
            readGroup(device, group->group(name), memberPath, depth + 1);
            continue;
        }
        uint number = 0;
        if (!parseNumber(rawNumber, number)) {
            logToMain(kSettingsClass, QStringLiteral("Error parsing number"), FAILURE);
            continue;
        }
        if (number == kSkippedNumber)
            continue;
        readParameter(device, group, name, number, memberPath);
    }
}

void ParameterDefinitionReader::readParameter(ParameterDevice* device, ParameterGroup* group,
                                              const QString& name, uint number, const QString& p)
{
    const int min = intMember(path(p, QStringLiteral("Min")), -1);
    const int max = intMember(path(p, QStringLiteral("Max")), -1);
    const int value = intMember(path(p, QStringLiteral("Value")), -1);
    float scale = 1.0f;
    ConfigStore::getFloat(path(p, QStringLiteral("Scale")), scale);

    auto* parameter = new Parameter(device, number, name, stringMember(path(p, QStringLiteral("Tooltip"))),
                                    min, max, value, boolMember(path(p, QStringLiteral("8 Bit"))),
                                    boolMember(path(p, QStringLiteral("Readonly"))),
                                    displayModeFromText(stringMember(path(p, QStringLiteral("Display mode")))),
                                    double(scale));
    if (min == -1 && max == -1)
        parameter->setAutoRange(true);
    parameter->setPostfix(stringMember(path(p, QStringLiteral("Postfix"))));
    if (const int offset = intMember(path(p, QStringLiteral("Offset")), 0); offset != 0)
        parameter->setOffset(offset);
    readLut(parameter, path(p, QStringLiteral("LUT")));
    readBytes(parameter, path(p, QStringLiteral("Bytes")));
    readFlags(parameter, 16, path(p, QStringLiteral("Flags")));

    if (device->addParameter(group, parameter) != parameter)
        delete parameter;
}

void ParameterDefinitionReader::readLut(Parameter* parameter, const QString& lutPath)
{
    const QStringList entries = membersOf(lutPath);
    for (const QString& text : entries) {
        int value = 0;
        if (ConfigStore::getInt(path(path(lutPath, text), QStringLiteral("Value")), value))
            parameter->setLutEntry(value, text);
    }
}

void ParameterDefinitionReader::readBytes(Parameter* parameter, const QString& bytesPath)
{
    const QStringList names = membersOf(bytesPath);
    for (const QString& name : names) {
        const QString bytePath = path(bytesPath, name);
        int index = 0;
        if (!ConfigStore::getInt(path(bytePath, QStringLiteral("Byte")), index))
            continue;
        auto* view = new ByteParameterView(parameter, index, name,
                                           stringMember(path(bytePath, QStringLiteral("Tooltip"))));
        parameter->addView(view);
        readFlags(view, 8, path(bytePath, QStringLiteral("Flags")));
    }
}

void ParameterDefinitionReader::readFlags(ParameterView* view, int bitCount, const QString& flagsPath)
{
    const QStringList names = membersOf(flagsPath);
    for (const QString& name : names) {
        const QString flagPath = path(flagsPath, name);
        int bit = 0;
        if (!ConfigStore::getInt(path(flagPath, QStringLiteral("Bit")), bit))
            continue;
        if (bit < 0 || bit >= bitCount) {
            logToMain(kSettingsClass,
                      QStringLiteral("Flag \"%1\" of \"%2\": bit %3 is outside 0..%4")
                          .arg(name, view->name())
                          .arg(bit)
                          .arg(bitCount - 1),
                      WARN);
            continue;
        }
        view->addView(new BitFlagParameterView(view, bit, name,
                                               stringMember(path(flagPath, QStringLiteral("Tooltip")))));
    }
}

} // namespace halvorn::general
