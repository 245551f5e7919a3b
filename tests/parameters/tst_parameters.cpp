// Parameters: values, ranges and masks, reading and writing through the
// device, presentation, byte and bit views, and definitions read from the
// settings tree.

#include "general/bitflagparameterview.h"
#include "general/bytedata.h"
#include "general/byteparameterview.h"
#include "general/configstore.h"
#include "general/log.h"
#include "general/parameter.h"
#include "general/parameterdefinitionreader.h"
#include "general/parameterdevice.h"
#include "tests/support/recordingmenubuilder.h"

#include <QColor>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <deque>

using namespace halvorn::general;
using halvorn::test::RecordingMenuBuilder;

namespace {

// Answers reads from a script of replies (−1: the read fails) and records
// every value written; writes fail while `uploadsFail` is set.
class ScriptedDevice : public ParameterDevice
{
public:
    uint downloadParameter(Parameter*, bool& ok) override
    {
        ++downloads;
        if (replies.empty())
            return 0;
        const int reply = replies.front();
        replies.pop_front();
        ok = reply != -1;
        return ok ? uint(reply) : 0;
    }
    void uploadParameter(Parameter* param, bool& ok) override
    {
        uploaded << param->storedValue();
        ok = !uploadsFail;
    }
    int readAttempts() const override { return attempts; }

    std::deque<int> replies;
    QList<int> uploaded;
    int downloads = 0;
    int attempts = 1;
    bool uploadsFail = false;
};

Parameter* addParameter(ScriptedDevice& device, int min, int max, int value = -1, bool is8Bit = false,
                        bool readOnly = false, int mode = Parameter::Decimal, double scale = 1.0)
{
    auto* parameter = new Parameter(&device, 0x40, QStringLiteral("Level"), QStringLiteral("The level"), min,
                                    max, value, is8Bit, readOnly, mode, scale);
    device.addChild(parameter, false);
    return parameter;
}

// Messages appended to the main log since `first`, as "class type text".
QStringList logLinesSince(int first)
{
    QStringList lines;
    for (int i = first; i < mainLog()->count(); ++i) {
        const LogMessage* message = mainLog()->message(i);
        lines << QStringLiteral("%1 %2 %3").arg(int(message->msgClass())).arg(int(message->type())).arg(message->text());
    }
    return lines;
}

// The tree below a node, one line per node, indented by depth.
void describe(const TreeNode* node, int depth, QStringList& lines)
{
    for (const TreeNode* child : node->childNodes()) {
        QString line = QString(depth * 2, QLatin1Char(' ')) + child->name();
        if (auto* parameter = qobject_cast<const Parameter*>(child))
            line += QStringLiteral(" #%1").arg(parameter->number());
        else if (auto* byte = qobject_cast<const ByteParameterView*>(child))
            line += QStringLiteral(" byte %1").arg(byte->byteIndex());
        else if (auto* bit = qobject_cast<const BitFlagParameterView*>(child))
            line += QStringLiteral(" bit %1").arg(bit->bit());
        else
            line += QStringLiteral(" /");
        lines << line;
        describe(child, depth + 1, lines);
    }
}

QStringList describe(const TreeNode* node)
{
    QStringList lines;
    describe(node, 0, lines);
    return lines;
}

// A parameter's settings in one line.
QString summary(const Parameter* p)
{
    if (!p)
        return QStringLiteral("(none)");
    QStringList parts{QStringLiteral("mode %1").arg(p->displayMode()), QStringLiteral("mask %1").arg(p->mask(), 0, 16),
                      QStringLiteral("range %1..%2").arg(p->minimum()).arg(p->maximum()),
                      QStringLiteral("value %1").arg(p->value())};
    for (const auto& [set, text] : {std::pair{p->isReadOnly(), "read-only"}, {p->is8Bit(), "8 bit"},
                                    {p->autoRange(), "auto range"}, {p->hasLut(), "LUT"}})
        if (set)
            parts << QString::fromLatin1(text);
    parts << p->postfix() << p->tooltip();
    parts.removeAll(QString());
    return parts.join(QStringLiteral(", "));
}

const char kDefinitions[] = R"({
  "TestDriver": { "Parameters": {
    "Zeta current":  { "Number": "0x1A", "Max": 100, "Display mode": "Hex", "Postfix": "mA", "Tooltip": "Output current" },
    "Alpha switch":  { "Number": "012", "Min": 0, "Max": 1, "Readonly": true, "8 Bit": true },
    "Broken number": { "Number": "1A", "Max": 5 },
    "Not used":      { "Number": -1 },
    "Not used hex":  { "Number": "0xFFFFFFFF" },
    "Comment":       "members that are not objects are ignored",
    "Sub":           { "Min": 3,
                       "Inner":  { "Number": 300, "Scale": 0.5, "Display mode": "Scale", "Offset": 2, "Value": 8 },
                       "Deeper": { "Leaf": { "Number": 7, "Display mode": "hex" } } },
    "Status":        { "Number": 40, "Max": 65535,
                       "LUT":   { "Off": { "Value": 0 }, "On": { "Value": 1 }, "Odd": { "Value": "x" } },
                       "Bytes": { "High": { "Byte": 1, "Tooltip": "high byte",
                                            "Flags": { "Ready": { "Bit": 0 }, "Beyond": { "Bit": 9 } } },
                                  "Low":  { "Byte": 0 } },
                       "Flags": { "Top": { "Bit": 15, "Tooltip": "top bit" }, "Bottom": { "Bit": 0 }, "Nameless": {} } }
  } }
})";

} // namespace

class TestParameters : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void maskFollowsTheMaximum_data();
    void maskFollowsTheMaximum();
    void automaticRange();
    void setValueReportsTheFirstChangedColumn_data();
    void setValueReportsTheFirstChangedColumn();
    void formatValue_data();
    void formatValue();
    void columnsShowOffsetAndLookUpNames();
    void toolTipsShowTheNumberInThreeBases();
    void readStates_data();
    void readStates();
    void failedReadHidesTheValueAndMarksTheRow();
    void failedWriteMarksTheRowUntilAWriteSucceeds();
    void booleanParameterStoresAllMaskBits();
    void editingTheValueColumnWritesIt_data();
    void editingTheValueColumnWritesIt();
    void menuOffersDisplayTypes();
    void byteViewsSplitTheValue();
    void bitFlagWritesTheRightWord_data();
    void bitFlagWritesTheRightWord();
    void bitFlagRefusesToWriteWhenTheParentCannotBeRead();
    void bitFlagOfAReadOnlyParameterIsNotEditable();
    void byteDataAnnouncesChanges();
    void definitionsBuildTheTree();
    void groupsNestedTooDeeplyAreSkipped();
    void numbersBeyond32BitsAreRefused();

private:
    QTemporaryDir m_dir;
};

void TestParameters::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QFile file(m_dir.filePath("definitions.json"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(kDefinitions);
    file.close();
    QVERIFY(ConfigStore::importFile(file.fileName()));
    QStringList keys;
    QVERIFY2(ConfigStore::getKeys("TestDriver|Parameters", keys), "the definitions parse");
}

void TestParameters::maskFollowsTheMaximum_data()
{
    QTest::addColumn<int>("max");
    QTest::addColumn<uint>("mask");
    QTest::addColumn<int>("written");
    QTest::addColumn<int>("stored");
    //                                    max      mask     written  stored
    QTest::newRow("max 100")          << 100    << 127u    << 0x1FF  << 0x7F;
    QTest::newRow("max 1")            << 1      << 1u      << 3      << 1;
    QTest::newRow("max 0")            << 0      << 1u      << 2      << 0;
    QTest::newRow("max 2")            << 2      << 3u      << 6      << 2;
    QTest::newRow("max 255")          << 255    << 255u    << 0x1FF  << 0xFF;
    QTest::newRow("max 256")          << 256    << 511u    << 0x3FF  << 0x1FF;
    QTest::newRow("max 0xFFFF")       << 0xFFFF << 0xFFFFu << 0x1FFFF << 0xFFFF;
    QTest::newRow("no upper bound")   << -1     << 0xFFFFu << 0x0065 << 0x0065;
}

void TestParameters::maskFollowsTheMaximum()
{
    QFETCH(int, max);
    QFETCH(uint, mask);
    QFETCH(int, written);
    QFETCH(int, stored);

    ScriptedDevice device;
    // A lower bound keeps the automatic range (which does not mask) out of the way.
    Parameter* parameter = addParameter(device, 0, max);
    QCOMPARE(parameter->mask(), mask);
    parameter->setValue(written, false);
    QCOMPARE(parameter->value(), stored);
}

void TestParameters::automaticRange()
{
    ScriptedDevice device;
    Parameter* parameter = addParameter(device, -1, -1);
    parameter->setAutoRange(true);
    for (int value : {5, 3, 9})
        parameter->setValue(value, false);
    QCOMPARE(parameter->minimum(), 3);
    QCOMPARE(parameter->maximum(), 9);
    parameter->setValue(0x12345, false); // not masked
    QCOMPARE(parameter->value(), 0x12345);
    QCOMPARE(parameter->maximum(), 0x12345);

    parameter->clearMinMax();
    QCOMPARE(parameter->minimum(), -1);
    QCOMPARE(parameter->maximum(), -1);
    parameter->setValue(7, false);
    QCOMPARE(parameter->minimum(), 7);
    QCOMPARE(parameter->maximum(), 7);

    // Scaled (display mode 3), values beyond 0xFF00 stay out of the range.
    parameter->setDisplayMode(Parameter::ScaledMultiply);
    parameter->setValue(0xFF00, false);
    QCOMPARE(parameter->maximum(), 7);
    QCOMPARE(parameter->value(), 0xFF00);
    parameter->setDecimal();
    parameter->setValue(0xFF00, false);
    QCOMPARE(parameter->maximum(), 0xFF00);

    Parameter* fixed = addParameter(device, 10, 20);
    fixed->clearMinMax();
    QCOMPARE(fixed->minimum(), 10);
    QCOMPARE(fixed->maximum(), 20);
}

void TestParameters::setValueReportsTheFirstChangedColumn_data()
{
    QTest::addColumn<QList<int>>("earlier");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("column");
    //                                       values before  new value  first column
    QTest::newRow("first value sets both")  << QList<int>{}     << 5  << 2;
    QTest::newRow("new minimum")            << QList<int>{5, 9} << 3  << 2;
    QTest::newRow("new maximum only")       << QList<int>{5, 9} << 12 << 3;
    QTest::newRow("inside the range")       << QList<int>{5, 9} << 7  << 4;
}

void TestParameters::setValueReportsTheFirstChangedColumn()
{
    QFETCH(QList<int>, earlier);
    QFETCH(int, value);
    QFETCH(int, column);

    ScriptedDevice device;
    Parameter* parameter = addParameter(device, -1, -1);
    parameter->setAutoRange(true);
    for (int v : earlier)
        parameter->setValue(v, false);

    QSignalSpy changed(parameter, &Parameter::parameterChanged);
    QSignalSpy rows(parameter, &ParameterView::parameterViewChanged);
    parameter->setValue(value, false);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(rows.count(), 1);
    QCOMPARE(rows.at(0).at(1).toInt(), column);
    QCOMPARE(rows.at(0).at(2).toInt(), 4);
    QVERIFY(parameter->isChanged());

    parameter->setValue(value, false);
    QVERIFY2(!parameter->isChanged(), "the same value again is no change");
}

void TestParameters::formatValue_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("is8Bit");
    QTest::addColumn<double>("scale");
    QTest::addColumn<QString>("postfix");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");
    //                                  mode 8-bit scale  postfix value   text
    QTest::newRow("never read")      << 0 << false << 1.0 << "V"  << -1    << "";
    QTest::newRow("decimal")         << 0 << false << 1.0 << ""   << 1234  << "1234";
    QTest::newRow("decimal unit")    << 0 << false << 1.0 << "mA" << 350   << "350 mA";
    QTest::newRow("hex 8-bit")       << 1 << true  << 1.0 << ""   << 10    << "0Ah";
    QTest::newRow("hex 16-bit")      << 1 << false << 1.0 << ""   << 10    << "000Ah";
    QTest::newRow("hex wide")        << 1 << false << 1.0 << ""   << 0xABCDE << "ABCDEh";
    QTest::newRow("binary 8-bit")    << 2 << true  << 1.0 << ""   << 5     << "00000101b";
    QTest::newRow("binary 16-bit")   << 2 << false << 1.0 << ""   << 5     << "0000000000000101b";
    QTest::newRow("scaled times")    << 3 << false << 0.5 << "V"  << 7     << "3.500 V";
    QTest::newRow("scaled divide 0") << 4 << false << 1000.0 << "" << 0    << "0";
    QTest::newRow("scaled divide")   << 4 << false << 1000.0 << "Hz" << 8  << "125 Hz";
    QTest::newRow("unknown mode")    << 9 << false << 1.0 << ""   << 42    << "42";
}

void TestParameters::formatValue()
{
    QFETCH(int, mode);
    QFETCH(bool, is8Bit);
    QFETCH(double, scale);
    QFETCH(QString, postfix);
    QFETCH(int, value);
    QFETCH(QString, text);

    ScriptedDevice device;
    Parameter* parameter = addParameter(device, -1, -1, -1, is8Bit, false, Parameter::Decimal, scale);
    parameter->setPostfix(postfix);
    QCOMPARE(parameter->formatValue(mode, value), text);
}

void TestParameters::columnsShowOffsetAndLookUpNames()
{
    ScriptedDevice device;
    const auto cells = [](const Parameter* p) {
        QStringList texts;
        for (int column = 0; column < 5; ++column)
            texts << p->data(column, Qt::DisplayRole).toString();
        return texts;
    };
    Parameter* parameter = addParameter(device, 0, 10, 5);
    parameter->setOffset(-5);
    parameter->setLutEntry(3, "Three");
    QCOMPARE(cells(parameter), (QStringList{"Level", "64", "-5", "5", "0"}));
    parameter->setValue(3, false);
    QCOMPARE(cells(parameter).at(4), QStringLiteral("Three"));
    Parameter* unbounded = addParameter(device, -1, -1);
    unbounded->setOffset(100);
    QCOMPARE(cells(unbounded), (QStringList{"Level", "64", "", "", ""})); // unset bounds and value stay empty

    // Numbers above a byte are shown in hexadecimal.
    const QList<std::pair<uint, QString>> numbers = {{255, "255"}, {256, "0100h"}, {0x1234, "1234h"}, {100000, "186A0h"}};
    for (const auto& [number, text] : numbers)
        QCOMPARE(Parameter(&device, number, "p", QString(), -1, -1, -1, false, false, Parameter::Decimal).data(1, Qt::DisplayRole).toString(), text);
}

void TestParameters::toolTipsShowTheNumberInThreeBases()
{
    ScriptedDevice device;
    Parameter* parameter = addParameter(device, 0, 255, 5, true);
    QCOMPARE(parameter->data(4, Qt::ToolTipRole).toString(),
             QStringLiteral("<b>Dec: </b>5<br><b>Hex: </b>05h<br><b>Bin: </b>00000101b"));
    QCOMPARE(parameter->data(0, Qt::ToolTipRole).toString(), QStringLiteral("<b>Description</b><br>The level"));

    parameter->setBitName(0, "Ready");
    parameter->setBitName(1, "Error");
    parameter->setShowBits(true);
    const QString tip = parameter->data(4, Qt::ToolTipRole).toString();
    QVERIFY2(tip.contains("<br><b>0</b>\t:<b>Ready</b>"), qPrintable(tip));
    QVERIFY2(tip.contains("<br><b>1</b>\t:Error<br>"), qPrintable(tip));
    QVERIFY2(tip.contains("<br><b>7</b>\t:") && !tip.contains("<b>8</b>"), "eight bits for an 8-bit value");
}

void TestParameters::readStates_data()
{
    QTest::addColumn<int>("attempts");
    QTest::addColumn<QList<int>>("replies");
    QTest::addColumn<bool>("result");
    QTest::addColumn<int>("readState");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("downloads");
    //                                   attempts replies (−1 fails)       result readState value  downloads
    QTest::newRow("first try")         << 3 << QList<int>{42}          << true  << 0 << 42     << 1;
    QTest::newRow("after retries")     << 3 << QList<int>{-1, -1, 42}  << true  << 2 << 42     << 3;
    QTest::newRow("all attempts fail") << 3 << QList<int>{-1, -1, -1}  << false << 1 << -1     << 3;
    QTest::newRow("no attempts")       << 0 << QList<int>{42}          << false << 1 << -1     << 0;
    QTest::newRow("16 bits kept")      << 1 << QList<int>{0x12345}     << true  << 0 << 0x2345 << 1;
}

void TestParameters::readStates()
{
    QFETCH(int, attempts);
    QFETCH(QList<int>, replies);
    QFETCH(bool, result);
    QFETCH(int, readState);
    QFETCH(int, value);
    QFETCH(int, downloads);

    ScriptedDevice device;
    device.attempts = attempts;
    device.replies.assign(replies.begin(), replies.end());
    Parameter* parameter = addParameter(device, -1, -1);
    QSignalSpy finished(parameter, &TreeNode::updateFinished);

    QCOMPARE(parameter->update(), result);
    QCOMPARE(parameter->readState(), readState);
    QCOMPARE(parameter->value(), value);
    QCOMPARE(device.downloads, downloads);
    QCOMPARE(parameter->updateState(), 0);
    QCOMPARE(finished.count(), 1);
}

void TestParameters::failedReadHidesTheValueAndMarksTheRow()
{
    ScriptedDevice device;
    device.replies = {7, -1, 9};
    Parameter* parameter = addParameter(device, -1, -1);
    QVERIFY(parameter->update());
    QVERIFY(!parameter->data(0, Qt::BackgroundRole).isValid());

    QVERIFY(!parameter->update());
    QCOMPARE(parameter->value(), -1);
    QCOMPARE(parameter->storedValue(), 7);
    QVERIFY(parameter->data(4, Qt::DisplayRole).toString().isEmpty());
    QVERIFY(parameter->data(1, Qt::ToolTipRole).toString().endsWith("<br><b>Error</b><br>Parameter read error"));
    const QColor failed = parameter->data(2, Qt::BackgroundRole).value<QColor>();
    QVERIFY(failed.isValid());

    QVERIFY(parameter->update());
    QCOMPARE(parameter->value(), 9);
    QVERIFY(!parameter->data(1, Qt::ToolTipRole).toString().contains("Error"));
}

void TestParameters::failedWriteMarksTheRowUntilAWriteSucceeds()
{
    ScriptedDevice device;
    device.uploadsFail = true;
    Parameter* parameter = addParameter(device, 0, 1000);
    QSignalSpy written(parameter, &Parameter::parameterWrite);

    parameter->setValue(500, true);
    QCOMPARE(device.uploaded, (QList<int>{500, 500, 500}));
    QCOMPARE(parameter->readState(), int(Parameter::WriteFailed));
    QCOMPARE(parameter->value(), 500);
    QCOMPARE(written.count(), 1);
    QVERIFY(parameter->data(0, Qt::BackgroundRole).value<QColor>().isValid());

    device.uploadsFail = false;
    parameter->setValue(600, true);
    QCOMPARE(parameter->readState(), int(Parameter::ReadOk));
    QCOMPARE(device.uploaded.size(), 4);

    device.uploaded.clear();
    parameter->setReadOnly(true);
    parameter->setValue(700, true);
    QVERIFY2(device.uploaded.isEmpty(), "read-only parameters are never written");
    QCOMPARE(parameter->readState(), int(Parameter::ReadOk));
}

void TestParameters::booleanParameterStoresAllMaskBits()
{
    ScriptedDevice device;
    Parameter* flag = addParameter(device, -1, -1);
    flag->setType(Parameter::BooleanType);
    QCOMPARE(flag->value(), -1);

    flag->setValue(5, false);
    QCOMPARE(flag->storedValue(), 0xFFFF);
    QCOMPARE(flag->value(), 1);
    flag->setValue(0, false);
    QCOMPARE(flag->value(), 0);

    device.replies = {0x10002};
    QSignalSpy changed(flag, &Parameter::parameterChanged);
    QVERIFY(flag->update());
    QCOMPARE(flag->storedValue(), 0x0002);
    QCOMPARE(flag->value(), 1);
    QVERIFY(flag->isChanged());
    QCOMPARE(changed.count(), 1);
}

void TestParameters::editingTheValueColumnWritesIt_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QVariant>("edit");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("written");
    //                                   mode offset edit                   accepted written
    QTest::newRow("decimal text")     << 0 << 0  << QVariant("123")      << true  << 123;
    QTest::newRow("hex with suffix")  << 1 << 0  << QVariant("1Fh")      << true  << 31;
    QTest::newRow("binary")           << 2 << 0  << QVariant("101b")     << true  << 5;
    QTest::newRow("scaled")           << 3 << 0  << QVariant("3.5 V")    << true  << 7;
    QTest::newRow("offset removed")   << 0 << 10 << QVariant(25)         << true  << 15;
    QTest::newRow("look-up name")     << 0 << 0  << QVariant("Boost")    << true  << 2;
    QTest::newRow("not a number")     << 0 << 0  << QVariant("abc")      << false << -1;
}

void TestParameters::editingTheValueColumnWritesIt()
{
    QFETCH(int, mode);
    QFETCH(int, offset);
    QFETCH(QVariant, edit);
    QFETCH(bool, accepted);
    QFETCH(int, written);

    ScriptedDevice device;
    Parameter* parameter = addParameter(device, 0, 1000, -1, false, false, mode, 0.5);
    parameter->setPostfix("V");
    parameter->setOffset(offset);
    parameter->setLutEntry(2, "Boost");
    QVERIFY(parameter->flags(4).testFlag(Qt::ItemIsEditable));

    QCOMPARE(parameter->setData(4, edit, Qt::EditRole), accepted);
    QCOMPARE(device.uploaded.value(0, -1), written);
}

void TestParameters::menuOffersDisplayTypes()
{
    ScriptedDevice device;
    Parameter* parameter = addParameter(device, 0, 100, 5, false, false, Parameter::BinaryMode);
    RecordingMenuBuilder menu;
    parameter->populateMenu(menu);

    QCOMPARE(menu.texts(), (QStringList{"Update \"Level\"", "-", "Clear min/max", "-", "Display type>"}));
    RecordingMenuBuilder* types = menu.subMenu("Display type");
    QVERIFY(types);
    QCOMPARE(types->texts(), (QStringList{"Decimal", "Hex", "Binary", "Scaled (factor * val)",
                                          "Scaled (factor / val)"}));
    QStringList checked;
    for (const auto& entry : types->entries()) {
        QVERIFY(entry.action->isCheckable());
        if (entry.action->isChecked())
            checked << entry.text;
    }
    QCOMPARE(checked, QStringList{"Binary"});

    menu.action("Hex")->trigger();
    QCOMPARE(parameter->displayMode(), int(Parameter::Hexadecimal));
    QVERIFY2(!menu.action("Binary")->isChecked(), "the entries are exclusive");

    QAction* scaled = menu.action("Scaled (factor * val)");
    QCOMPARE(scaled->objectName(), QStringLiteral("scaleMultiply"));
    QCOMPARE(menu.action("Scaled (factor / val)")->objectName(), QStringLiteral("scaleDivide"));
    scaled->trigger();
    QCOMPARE(parameter->displayMode(), int(Parameter::Hexadecimal)); // the ui asks for the factor first
    parameter->setScale(2.0);
    QCOMPARE(parameter->displayMode(), int(Parameter::ScaledMultiply));
    QCOMPARE(parameter->scale(), 2.0);
}

void TestParameters::byteViewsSplitTheValue()
{
    ScriptedDevice device;
    Parameter* parameter = addParameter(device, -1, -1);
    auto* low = new ByteParameterView(parameter, 0, "Low");
    auto* high = new ByteParameterView(parameter, 1, "High");
    parameter->addView(low);
    parameter->addView(high);
    QCOMPARE(low->value(), -1);
    QCOMPARE(high->value(), -1);

    parameter->setValue(0x1234, false);
    QCOMPARE(low->value(), 0x34);
    QCOMPARE(high->value(), 0x12);

    QSignalSpy parentRow(parameter, &ParameterView::parameterViewChanged);
    high->setValue(0xAB, true);
    QCOMPARE(device.uploaded, QList<int>{0xAB34});
    QVERIFY(parentRow.count() >= 1);
}

void TestParameters::bitFlagWritesTheRightWord_data()
{
    QTest::addColumn<int>("known");
    QTest::addColumn<QList<int>>("replies");
    QTest::addColumn<bool>("onHighByte");
    QTest::addColumn<int>("bit");
    QTest::addColumn<bool>("on");
    QTest::addColumn<int>("written");
    QTest::addColumn<int>("downloads");
    //                                        known   replies            high byte bit on    written  reads
    QTest::newRow("set, value known")       << 0x00F0 << QList<int>{}     << false << 0 << true  << 0x00F1 << 0;
    QTest::newRow("clear, value known")     << 0x00F0 << QList<int>{}     << false << 4 << false << 0x00E0 << 0;
    QTest::newRow("set, read first")        << -1     << QList<int>{0x10} << false << 0 << true  << 0x0011 << 1;
    QTest::newRow("read after a retry")     << -1     << QList<int>{-1, 0x8000} << false << 1 << true << 0x8002 << 2;
    QTest::newRow("bit of the high byte")   << 0x1234 << QList<int>{}     << true  << 0 << true  << 0x1334 << 0;
    QTest::newRow("high byte, read first")  << -1     << QList<int>{0x0100} << true << 0 << false << 0x0000 << 1;
}

void TestParameters::bitFlagWritesTheRightWord()
{
    QFETCH(int, known);
    QFETCH(QList<int>, replies);
    QFETCH(bool, onHighByte);
    QFETCH(int, bit);
    QFETCH(bool, on);
    QFETCH(int, written);
    QFETCH(int, downloads);

    ScriptedDevice device;
    device.attempts = 2;
    device.replies.assign(replies.begin(), replies.end());
    Parameter* parameter = addParameter(device, -1, -1, known);
    ParameterView* owner = parameter;
    if (onHighByte) {
        owner = new ByteParameterView(parameter, 1, "High");
        parameter->addView(owner);
    }
    auto* flag = new BitFlagParameterView(owner, bit, "Flag");
    owner->addView(flag);
    QVERIFY(flag->flags(0).testFlag(Qt::ItemIsUserCheckable));

    QVERIFY(flag->setData(0, int(on ? Qt::Checked : Qt::Unchecked), Qt::CheckStateRole));
    QCOMPARE(device.uploaded, QList<int>{written});
    QCOMPARE(device.downloads, downloads);
    QCOMPARE(flag->data(0, Qt::CheckStateRole).toInt(), int(on ? Qt::Checked : Qt::Unchecked));
}

void TestParameters::bitFlagRefusesToWriteWhenTheParentCannotBeRead()
{
    ScriptedDevice device;
    device.attempts = 3;
    device.replies = {-1, -1, -1};
    Parameter* parameter = addParameter(device, -1, -1);
    parameter->setName("Status");
    auto* flag = new BitFlagParameterView(parameter, 3, "Fault");
    parameter->addView(flag);
    QCOMPARE(flag->data(0, Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));

    const int firstMessage = mainLog()->count();
    QVERIFY(!flag->setData(0, int(Qt::Checked), Qt::CheckStateRole));
    QVERIFY2(device.uploaded.isEmpty(), "no guessed word may reach the device");
    QCOMPARE(device.downloads, 3);
    QCOMPARE(parameter->readState(), int(Parameter::ReadFailed));
    QCOMPARE(logLinesSince(firstMessage),
             QStringList{"0 2 Cannot change bit 3 of Status: its current value could not be read"});
}

void TestParameters::bitFlagOfAReadOnlyParameterIsNotEditable()
{
    ScriptedDevice device;
    Parameter* parameter = addParameter(device, -1, -1, 0x0001, false, true);
    auto* flag = new BitFlagParameterView(parameter, 0, "Ready");
    parameter->addView(flag);
    QCOMPARE(flag->data(0, Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QVERIFY(!flag->flags(0).testFlag(Qt::ItemIsUserCheckable));
    QVERIFY(!flag->setData(0, int(Qt::Unchecked), Qt::CheckStateRole));
    QCOMPARE(parameter->value(), 1);
    QVERIFY(device.uploaded.isEmpty());
}

void TestParameters::byteDataAnnouncesChanges()
{
    ByteData data(2);
    QSignalSpy changed(&data, &ByteData::dataChanged);
    QSignalSpy resized(&data, &ByteData::byteCountChanged);

    QVERIFY(data.setByte(1, 0x7F));
    QVERIFY2(!data.setByte(1, 0x7F), "the same value is no change");
    QVERIFY(!data.setByte(2, 1));
    QVERIFY(!data.setByte(-1, 1));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0), (QVariantList{1, 0x7F}));

    data.resize(4);
    QCOMPARE(resized.count(), 1);
    QCOMPARE(resized.at(0), (QVariantList{2, 4}));
    QCOMPARE(data.byte(1), quint8(0x7F));
    QCOMPARE(data.byte(3), quint8(0));
    QCOMPARE(data.byte(4), quint8(0));
    data.resize(4);
    QCOMPARE(resized.count(), 1);
}

void TestParameters::definitionsBuildTheTree()
{
    ParameterDevice device;
    const int firstMessage = mainLog()->count();
    ParameterDefinitionReader::readDevice(&device, "TestDriver");

    const QStringList tree = describe(&device);
    QCOMPARE(tree, (QStringList{
        "Alpha switch #10",
        "Status #40",
        "  High byte 1",
        "    Ready bit 0",
        "  Low byte 0",
        "  Bottom bit 0",
        "  Top bit 15",
        "Sub /",
        "  Deeper /",
        "    Leaf #7",
        "  Inner #300",
        "Zeta current #26",
    }));
    const QStringList messages = logLinesSince(firstMessage);
    QCOMPARE(messages.count(QStringLiteral("15 10 Error parsing number")), 1);
    QVERIFY2(messages.filter("Beyond").size() == 1, "a bit outside the byte is reported and skipped");

    // A maximum alone fixes the range; "hex" is not "Hex".
    QCOMPARE(summary(device.findParameter(26)), QStringLiteral("mode 1, mask 7f, range -1..100, value -1, mA, Output current"));
    QCOMPARE(summary(device.findParameter(10)), QStringLiteral("mode 0, mask 1, range 0..1, value -1, read-only, 8 bit"));
    QCOMPARE(summary(device.findParameter(300)), QStringLiteral("mode 3, mask ffff, range -1..-1, value 8, auto range"));
    QCOMPARE(summary(device.findParameter(7)), QStringLiteral("mode 0, mask ffff, range -1..-1, value -1, auto range"));
    Parameter* status = device.findParameter(40);
    QCOMPARE(summary(status), QStringLiteral("mode 0, mask ffff, range -1..65535, value -1, LUT"));
    QCOMPARE(status->lutText(0) + status->lutText(1), QStringLiteral("OffOn"));
    QCOMPARE(device.findParameter(300)->data(4, Qt::DisplayRole).toString(), QStringLiteral("5.000")); // scale and offset
    QCOMPARE(status->findChild(QStringLiteral("High"))->tooltip(), QStringLiteral("high byte"));
    auto* top = qobject_cast<BitFlagParameterView*>(status->findChild(QStringLiteral("Top")));
    QVERIFY(top);
    QCOMPARE(top->tooltip(), QStringLiteral("top bit"));
    QCOMPARE(top->parentView(), status);
    QVERIFY(!device.findParameter(0xFFFFFFFFu));

    // Read again, nothing is added.
    ParameterDefinitionReader::readDevice(&device, "TestDriver");
    QCOMPARE(describe(&device), tree);
    QCOMPARE(device.findParameter(40), status);
    ParameterDevice empty;
    ParameterDefinitionReader::readDevice(&empty, "NoSuchDriver");
    QCOMPARE(empty.childCount(), 0);
}

void TestParameters::groupsNestedTooDeeplyAreSkipped()
{
    // A damaged file nesting hundreds of groups: the shallow parameter is
    // read, the deep one is skipped with one message, and the stack holds.
    QString nested = QStringLiteral(R"({ "Bottom": { "Number": 9 } })");
    for (int level = 0; level < 500; ++level)
        nested = QStringLiteral(R"({ "G": %1 })").arg(nested);
    QFile file(m_dir.filePath("deep.json"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral(R"({ "DeepDriver": { "Parameters": { "Top": { "Number": 5 }, "Nest": %1 } } })")
                   .arg(nested).toUtf8());
    file.close();
    QVERIFY(ConfigStore::importFile(file.fileName()));

    ParameterDevice device;
    const int firstMessage = mainLog()->count();
    ParameterDefinitionReader::readDevice(&device, "DeepDriver");
    QVERIFY(device.findParameter(5));
    QVERIFY(!device.findParameter(9));
    QCOMPARE(logLinesSince(firstMessage).filter("nested more than 16 deep").size(), 1);
}

void TestParameters::numbersBeyond32BitsAreRefused()
{
    QFile file(m_dir.filePath("huge.json"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({ "HugeDriver": { "Parameters": {
        "Far":      { "Number": 1e300 },  "Below":  { "Number": -1e300 },
        "Just out": { "Number": 4294967296 }, "Half": { "Number": 2.5 },
        "Largest":  { "Number": 4294967294 } } } })");
    file.close();
    QVERIFY(ConfigStore::importFile(file.fileName()));

    ParameterDevice device;
    const int firstMessage = mainLog()->count();
    ParameterDefinitionReader::readDevice(&device, "HugeDriver");
    QCOMPARE(device.childCount(), 1);
    QVERIFY(device.findParameter(4294967294u));
    QCOMPARE(logLinesSince(firstMessage).count(QStringLiteral("15 10 Error parsing number")), 4);
}

QTEST_MAIN(TestParameters)
#include "tst_parameters.moc"
