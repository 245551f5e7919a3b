// The settings store: importing JSON files, hiding of repeated top-level keys,
// key paths, the getters' failure behaviour, parse errors, and the settings
// files we ship.
//
// The store is process-wide and never cleared, so every test uses top-level
// keys of its own.

#include "general/configstore.h"
#include "general/log.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using namespace halvorn::general;

namespace {

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& content)
{
    QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    file.write(content);
    return path;
}

// The main log's messages from index `from` on.
QList<const LogMessage*> mainLogSince(int from)
{
    QList<const LogMessage*> messages;
    for (int i = from; i < mainLog()->count(); ++i)
        messages.append(mainLog()->message(i));
    return messages;
}

QString quoted(const QString& path)
{
    return QLatin1Char('"') + path + QLatin1Char('"');
}

// A Number member as the parameter definition reader takes it: an integer,
// or a string with automatic base detection (0x hexadecimal, 0 octal).
bool definitionNumber(const QString& keyPath, uint* number)
{
    int asInt = 0;
    if (ConfigStore::getInt(keyPath, asInt)) {
        *number = uint(asInt);
        return true;
    }
    QString text;
    if (!ConfigStore::getString(keyPath, text))
        return false;
    bool ok = false;
    *number = text.toUInt(&ok, 0);
    return ok;
}

bool isServedDaliNumber(uint n)
{
    return n <= 0x28 || (n >= 0x200 && n < 0x240) || (n >= 0x1000 && n < 0x1100)
           || (n >= 0x2000 && n < 0x5000);
}

} // namespace

class TestConfigStore : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void laterImportHidesEarlierTopLevelKey_data();
    void laterImportHidesEarlierTopLevelKey();
    void keyPathsIgnoreEmptySegments_data();
    void keyPathsIgnoreEmptySegments();
    void gettersConvertOrLeaveOutputUntouched_data();
    void gettersConvertOrLeaveOutputUntouched();
    void syntaxErrorIsLoggedWithItsLine_data();
    void syntaxErrorIsLoggedWithItsLine();
    void unusableFileIsLoggedAndContributesNothing_data();
    void unusableFileIsLoggedAndContributesNothing();
    void shippedSettingsParseAndDefineValidParameters();
};

void TestConfigStore::laterImportHidesEarlierTopLevelKey_data()
{
    QTest::addColumn<QString>("keyPath");
    QTest::addColumn<bool>("resolves");
    QTest::addColumn<QString>("value");
    //                                               key path                   resolves  value
    QTest::newRow("member of the later object")   << "Hidden|Manufacturer"     << true   << "Later";
    QTest::newRow("member only the earlier had")  << "Hidden|Name"             << false  << "";
    QTest::newRow("nested object of the earlier") << "Hidden|Deep|Level"       << false  << "";
    QTest::newRow("unrepeated key of the earlier") << "OnlyInEarlier"          << true   << "5";
    QTest::newRow("unrepeated key of the later")  << "OnlyInLater|Flag"        << true   << "true";
}

void TestConfigStore::laterImportHidesEarlierTopLevelKey()
{
    QFETCH(QString, keyPath);
    QFETCH(bool, resolves);
    QFETCH(QString, value);

    QTemporaryDir dir;
    QVERIFY(ConfigStore::importFile(writeFile(dir, QStringLiteral("earlier.json"), R"({
        "Hidden": { "Manufacturer": "Earlier", "Name": "Earlier name", "Deep": { "Level": 3 } },
        "OnlyInEarlier": 5
    })")));
    QVERIFY(ConfigStore::importFile(writeFile(dir, QStringLiteral("later.json"), R"({
        "Hidden": { "Manufacturer": "Later" },
        "OnlyInLater": { "Flag": true }
    })")));

    QString out = QStringLiteral("default");
    QCOMPARE(ConfigStore::getString(keyPath, out), resolves);
    QCOMPARE(out, resolves ? value : QStringLiteral("default"));

    ConfigStore::clear();
    QVERIFY2(!ConfigStore::getString(keyPath, out), "cleared: nothing resolves");
}

void TestConfigStore::keyPathsIgnoreEmptySegments_data()
{
    QTest::addColumn<QString>("keyPath");
    QTest::addColumn<bool>("resolves");
    //                                       key path                     resolves
    QTest::newRow("plain")                << "Paths|Inner|Leaf"        << true;
    QTest::newRow("doubled separator")    << "Paths||Inner|Leaf"       << true;
    QTest::newRow("leading separator")    << "|Paths|Inner|Leaf"       << true;
    QTest::newRow("trailing separator")   << "Paths|Inner|Leaf|"       << true;
    QTest::newRow("many empty segments")  << "||Paths|||Inner||Leaf||" << true;
    QTest::newRow("empty path")           << ""                        << false;
    QTest::newRow("only separators")      << "|||"                     << false;
    QTest::newRow("case matters")         << "Paths|inner|Leaf"        << false;
    QTest::newRow("through a number")     << "Paths|Count|Leaf"        << false;
    QTest::newRow("through an array")     << "Paths|List|0"            << false;
    QTest::newRow("below the leaf")       << "Paths|Inner|Leaf|More"   << false;
    QTest::newRow("missing top level")    << "NoSuchKey|Inner|Leaf"    << false;
}

void TestConfigStore::keyPathsIgnoreEmptySegments()
{
    QFETCH(QString, keyPath);
    QFETCH(bool, resolves);

    QTemporaryDir dir;
    QVERIFY(ConfigStore::importFile(writeFile(dir, QStringLiteral("paths.json"), R"({
        "Paths": { "Inner": { "Leaf": "found" }, "Count": 7, "List": ["a", "b"] }
    })")));
    QVariant out(QStringLiteral("untouched"));
    QCOMPARE(ConfigStore::getValue(keyPath, out), resolves);
    QCOMPARE(out.toString(), resolves ? QStringLiteral("found") : QStringLiteral("untouched"));
}

void TestConfigStore::gettersConvertOrLeaveOutputUntouched_data()
{
    QTest::addColumn<QString>("getter");
    QTest::addColumn<QString>("member");
    QTest::addColumn<QVariant>("preset");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QVariant>("out");

    const QVariant untouchedText(QStringLiteral("preset"));
    const QStringList presetList{QStringLiteral("preset")};
    //                                          getter         member    preset               result  out afterwards
    QTest::newRow("string of missing")       << "string"    << "Nope"   << untouchedText     << false << untouchedText;
    QTest::newRow("string of text")          << "string"    << "Text"   << untouchedText     << true  << QVariant("abc");
    QTest::newRow("string of integer")       << "string"    << "Int"    << untouchedText     << true  << QVariant("42");
    QTest::newRow("int of missing")          << "int"       << "Nope"   << QVariant(-77)     << false << QVariant(-77);
    QTest::newRow("int of integer")          << "int"       << "Int"    << QVariant(-77)     << true  << QVariant(42);
    QTest::newRow("int of digits text")      << "int"       << "Digits" << QVariant(-77)     << true  << QVariant(12);
    QTest::newRow("int of letters writes 0") << "int"       << "Text"   << QVariant(-77)     << false << QVariant(0);
    QTest::newRow("int of object writes 0")  << "int"       << "Object" << QVariant(-77)     << false << QVariant(0);
    QTest::newRow("bool of missing")         << "bool"      << "Nope"   << QVariant(true)    << false << QVariant(true);
    QTest::newRow("bool of true")            << "bool"      << "True"   << QVariant(false)   << true  << QVariant(true);
    QTest::newRow("bool of false")           << "bool"      << "False"  << QVariant(true)    << true  << QVariant(false);
    QTest::newRow("float of missing")        << "float"     << "Nope"   << QVariant(-1.5f)   << false << QVariant(-1.5f);
    QTest::newRow("float of real")           << "float"     << "Real"   << QVariant(-1.5f)   << true  << QVariant(2.5f);
    QTest::newRow("list of array")           << "list"      << "List"   << QVariant(presetList) << true
                                             << QVariant(QStringList{"a", "1", "true"});
    QTest::newRow("list of text fails")      << "list"      << "Text"   << QVariant(presetList) << false << QVariant(presetList);
    QTest::newRow("list of object fails")    << "list"      << "Object" << QVariant(presetList) << false << QVariant(presetList);
    QTest::newRow("list of missing")         << "list"      << "Nope"   << QVariant(presetList) << false << QVariant(presetList);
    QTest::newRow("keys of object sorted")   << "keys"      << "Object" << QVariant(presetList) << true
                                             << QVariant(QStringList{"Zeta", "alpha", "beta"});
    QTest::newRow("keys of array fails")     << "keys"      << "List"   << QVariant(presetList) << false << QVariant(presetList);
    QTest::newRow("keys of text fails")      << "keys"      << "Text"   << QVariant(presetList) << false << QVariant(presetList);
    QTest::newRow("keys of missing")         << "keys"      << "Nope"   << QVariant(presetList) << false << QVariant(presetList);
}

void TestConfigStore::gettersConvertOrLeaveOutputUntouched()
{
    QFETCH(QString, getter);
    QFETCH(QString, member);
    QFETCH(QVariant, preset);
    QFETCH(bool, result);
    QFETCH(QVariant, out);

    QTemporaryDir dir;
    QVERIFY(ConfigStore::importFile(writeFile(dir, QStringLiteral("types.json"), R"({
        "Types": { "Text": "abc", "Digits": "12", "Int": 42, "Real": 2.5, "True": true, "False": false,
                   "List": ["a", 1, true], "Object": { "beta": 1, "alpha": 2, "Zeta": 3 } }
    })")));
    const QString keyPath = QStringLiteral("Types|") + member;

    bool ok = false;
    QVariant value;
    if (getter == QLatin1String("string")) {
        QString v = preset.toString();
        ok = ConfigStore::getString(keyPath, v);
        value = v;
    } else if (getter == QLatin1String("int")) {
        int v = preset.toInt();
        ok = ConfigStore::getInt(keyPath, v);
        value = v;
    } else if (getter == QLatin1String("bool")) {
        bool v = preset.toBool();
        ok = ConfigStore::getBool(keyPath, v);
        value = v;
    } else if (getter == QLatin1String("float")) {
        float v = preset.toFloat();
        ok = ConfigStore::getFloat(keyPath, v);
        value = v;
    } else {
        QStringList v = preset.toStringList();
        ok = getter == QLatin1String("list") ? ConfigStore::getStringList(keyPath, v) : ConfigStore::getKeys(keyPath, v);
        value = v;
    }
    QCOMPARE(ok, result);
    QCOMPARE(value, out);
}

void TestConfigStore::syntaxErrorIsLoggedWithItsLine_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("line");
    QTest::newRow("missing comma on line 5")
        << QByteArray("{\n  \"Broken\": {\n    \"A\": 1,\n    \"B\": 2\n    \"C\": 3\n  }\n}\n") << 5;
    QTest::newRow("stray comma on line 1") << QByteArray("{ \"Broken\": 1,, }") << 1;
    QTest::newRow("windows line ends") << QByteArray("{\r\n\"Broken\": 1,\r\n\r\n\"x\" 2\r\n}") << 4;
    QTest::newRow("cut off at the end") << QByteArray("{\n\"Broken\": {\n\"A\": [1, 2,\n") << 4;
    QTest::newRow("empty file") << QByteArray() << 1;
}

void TestConfigStore::syntaxErrorIsLoggedWithItsLine()
{
    QFETCH(QByteArray, content);
    QFETCH(int, line);

    QJsonParseError expectedError;
    QJsonDocument::fromJson(content, &expectedError);
    QVERIFY(expectedError.error != QJsonParseError::NoError);

    QTemporaryDir dir;
    const QString path = writeFile(dir, QStringLiteral("broken.json"), content);
    const int before = mainLog()->count();
    QVERIFY(ConfigStore::importFile(path));

    QVariant unused;
    QVERIFY(!ConfigStore::getValue(QStringLiteral("Broken"), unused));
    const auto logged = mainLogSince(before);
    QCOMPARE(logged.size(), 2);
    QCOMPARE(logged[0]->text(), QStringLiteral("Importing config file: ") + quoted(path));
    QCOMPARE(logged[0]->type(), INFO);
    QCOMPARE(logged[1]->text(), QStringLiteral("Error parsing file ") + quoted(path) + QStringLiteral(" at line: ")
                                    + QString::number(line) + QStringLiteral(" : ") + expectedError.errorString());
    QCOMPARE(logged[1]->type(), ERROR);
    QCOMPARE(logged[1]->data(1).toString(), QStringLiteral("UNKNOWN"));
}

void TestConfigStore::unusableFileIsLoggedAndContributesNothing_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("imported");
    QTest::addColumn<QString>("lastLine");
    QTest::addColumn<int>("lastType");
    QTest::newRow("missing file") << "missing.json" << false << "Can't import config file: " << int(INFO);
    QTest::newRow("a folder") << "folder.json" << false << "Can't import config file: " << int(INFO);
    QTest::newRow("root that is not an object") << "array.json" << true << "Ignoring config file " << int(ERROR);
}

void TestConfigStore::unusableFileIsLoggedAndContributesNothing()
{
    QFETCH(QString, name);
    QFETCH(bool, imported);
    QFETCH(QString, lastLine);
    QFETCH(int, lastType);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.json")));
    writeFile(dir, QStringLiteral("array.json"), R"([{ "ArrayRoot": 1 }])");
    const QString path = dir.filePath(name);
    const int before = mainLog()->count();
    QCOMPARE(ConfigStore::importFile(path), imported);
    QVariant unused;
    QVERIFY(!ConfigStore::getValue(QStringLiteral("ArrayRoot"), unused));
    const auto logged = mainLogSince(before);
    QCOMPARE(logged.size(), imported ? 2 : 1);
    QVERIFY2(logged.last()->text().startsWith(lastLine + quoted(path)), qPrintable(logged.last()->text()));
    QCOMPARE(int(logged.last()->type()), lastType);
    QCOMPARE(logged.last()->data(1).toString(), QStringLiteral("UNKNOWN"));
}

void TestConfigStore::shippedSettingsParseAndDefineValidParameters()
{
    const QDir settings(QStringLiteral(TIVARO_SOURCE_SETTINGS_DIR));
    const QStringList files = settings.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    const int before = mainLog()->count();
    for (const QString& file : files)
        QVERIFY(ConfigStore::importFile(settings.filePath(file)));
    for (const LogMessage* message : mainLogSince(before))
        QVERIFY2(message->type() == INFO, qPrintable(message->text()));

    // main_config.json names every other file, so none is forgotten.
    QStringList listed;
    QVERIFY(ConfigStore::getStringList(QStringLiteral("Settings"), listed));
    listed << QStringLiteral("main_config.json");
    listed.sort();
    QCOMPARE(listed, files);
    QString manufacturer;
    QString name;
    QVERIFY(ConfigStore::getString(QStringLiteral("Application|Manufacturer"), manufacturer));
    QVERIFY(ConfigStore::getString(QStringLiteral("Application|Name"), name));
    QCOMPARE(manufacturer + ' ' + name, QStringLiteral("Halvorn Tivaro"));

    // Walk the definition trees as the reader does: a member with a Number
    // is a parameter, any other object a group.
    const QStringList modes{"Dec", "Hex", "Bin", "Scale", "ScaleDiv"};
    for (const QString device : {"DALI Device", "DMX Device"}) {
        QSet<uint> numbers;
        QStringList pending{device + "|Parameters"};
        while (!pending.isEmpty()) {
            const QString group = pending.takeFirst();
            QStringList members;
            QVERIFY2(ConfigStore::getKeys(group, members), qPrintable(group));
            for (const QString& member : std::as_const(members)) {
                const QString path = group + '|' + member;
                QVariant numberValue;
                if (!ConfigStore::getValue(path + "|Number", numberValue)) {
                    pending << path;
                    continue;
                }
                uint number = 0;
                QVERIFY2(definitionNumber(path + "|Number", &number) && !numbers.contains(number), qPrintable(path));
                numbers.insert(number);
                QVERIFY2(!device.startsWith("DALI") || isServedDaliNumber(number), qPrintable(path));

                int min = -1;
                int max = -1;
                bool eightBit = false;
                QString mode = QStringLiteral("Dec");
                ConfigStore::getInt(path + "|Min", min);
                ConfigStore::getInt(path + "|Max", max);
                ConfigStore::getBool(path + "|8 Bit", eightBit);
                ConfigStore::getString(path + "|Display mode", mode);
                QVERIFY2((min == -1 || max == -1 || min <= max) && (!eightBit || max <= 255) && modes.contains(mode),
                         qPrintable(path));
                QStringList entries;
                ConfigStore::getKeys(path + "|LUT", entries);
                for (const QString& entry : std::as_const(entries)) {
                    int value = -1;
                    QVERIFY2(ConfigStore::getInt(path + "|LUT|" + entry + "|Value", value)
                                 && (max == -1 || (value >= qMax(min, 0) && value <= max)),
                             qPrintable(path + " LUT " + entry));
                }
                QStringList flags;
                ConfigStore::getKeys(path + "|Flags", flags);
                QSet<int> bits;
                for (const QString& flag : std::as_const(flags)) {
                    int bit = -1;
                    QVERIFY2(ConfigStore::getInt(path + "|Flags|" + flag + "|Bit", bit) && bit >= 0
                                 && bit < (eightBit ? 8 : 16) && !bits.contains(bit),
                             qPrintable(path + " flag " + flag));
                    bits.insert(bit);
                }
            }
        }
        QVERIFY2(numbers.size() >= 10, qPrintable(device));
    }
}

QTEST_GUILESS_MAIN(TestConfigStore)
#include "tst_configstore.moc"
