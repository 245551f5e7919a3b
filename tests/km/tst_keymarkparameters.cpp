// The parameters of device 0 of a Keymark network end to end, as the
// configuration form uses them: the four output currents through the
// mailbox, dimming curve and minimum level through the DALI pass-through,
// the NTC temperature in the tag, and the Ampwise chips — read and written
// through the Parameter objects against the simulated tag and its driver.

#include "general/parameter.h"
#include "km/keymarkdevice.h"
#include "km/keymarkmath.h"
#include "km/keymarknetwork.h"
#include "sim/simkeymarkport.h"
#include "tests/km/keymarkrig.h"

#include <QtTest>

using namespace halvorn;
using km::KeymarkParameter::AmpwiseCount;
using km::KeymarkParameter::DimmingCurve;
using km::KeymarkParameter::MinLevel;
using km::KeymarkParameter::NtcTemperature;
using sim::SimKeymarkPort;
using sim::SimTagConfig;

namespace {

SimTagConfig driverOnBench()
{
    SimTagConfig config;
    config.currents = {700, 350, 500, 1050};
    config.dimmingCurve = 1;
    config.minLevel = 30;
    config.ntcTemperature = 85;
    config.ampwiseStatus = {0x4000, 0x0040};
    return config;
}

// What the simulated tag and driver hold now.
struct Held
{
    std::array<quint16, 4> currents{};
    quint8 curve = 0;
    quint8 minLevel = 0;
    quint8 ntc = 0;
};

Held held(KeymarkRig& rig)
{
    Held now;
    rig.withPort([&](SimKeymarkPort& port) {
        for (int k = 0; k < 4; ++k)
            now.currents[size_t(k)] = port.tag().current(k);
        now.curve = port.tag().driver().dimmingCurve();
        now.minLevel = port.tag().driver().minLevel();
        now.ntc = port.tag().memoryByte(0x30);
    });
    return now;
}

} // namespace

class TestKeymarkParameters : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void currentsReadAndWrite_data();
    void currentsReadAndWrite();
    void generalSettingsReadAndWrite_data();
    void generalSettingsReadAndWrite();
    void ampwiseChips_data();
    void ampwiseChips();
    void writeOnlyDongleWritesButCannotRead();
};

void TestKeymarkParameters::currentsReadAndWrite_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("after");
    QTest::newRow("source 1") << 0 << 700 << 1049;
    QTest::newRow("source 2") << 1 << 350 << 201;
    QTest::newRow("source 3") << 2 << 500 << 0x0123;
    QTest::newRow("source 4") << 3 << 1050 << 0x0302;
}

void TestKeymarkParameters::currentsReadAndWrite()
{
    QFETCH(int, source);
    QFETCH(int, before);
    QFETCH(int, after);
    KeymarkRig rig;
    rig.withPort([](SimKeymarkPort& port) { port.insertTag(driverOnBench()); });
    QVERIFY(rig.start());
    const uint number = km::currentSourceParameter(source);
    int value = -1;
    QVERIFY(rig.read(number, value));
    QCOMPARE(value, before);

    QVERIFY(rig.write(number, after));
    const Held now = held(rig);
    QCOMPARE(int(now.currents[size_t(source)]), after);
    for (int other = 0; other < 4; ++other)
        if (other != source)
            QCOMPARE(int(now.currents[size_t(other)]), int(driverOnBench().currents[size_t(other)]));
    QVERIFY(rig.read(number, value));
    QCOMPARE(value, after);
}

void TestKeymarkParameters::generalSettingsReadAndWrite_data()
{
    QTest::addColumn<uint>("number");
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("after");
    QTest::newRow("dimming curve to logarithmic") << DimmingCurve << 1 << 0;
    QTest::newRow("minimum level 85")             << MinLevel << 30 << 85;
    QTest::newRow("NTC temperature 90")           << NtcTemperature << 85 << 90;
}

void TestKeymarkParameters::generalSettingsReadAndWrite()
{
    QFETCH(uint, number);
    QFETCH(int, before);
    QFETCH(int, after);
    KeymarkRig rig;
    rig.withPort([](SimKeymarkPort& port) { port.insertTag(driverOnBench()); });
    QVERIFY(rig.start());
    int value = -1;
    QVERIFY(rig.read(number, value));
    QCOMPARE(value, before);
    QVERIFY(rig.write(number, after));
    const Held now = held(rig);
    const int stored = number == DimmingCurve ? now.curve : number == MinLevel ? now.minLevel : now.ntc;
    QCOMPARE(stored, after);
    QVERIFY(rig.read(number, value));
    QCOMPARE(value, after);
}

void TestKeymarkParameters::ampwiseChips_data()
{
    QTest::addColumn<QList<uint16_t>>("status");
    QTest::newRow("one chip, source 2 missing") << QList<uint16_t>{0x0040};
    QTest::newRow("two chips")                  << QList<uint16_t>{0x4000, 0x0040};
    QTest::newRow("four chips")                 << QList<uint16_t>{0x0001, 0x4040, 0xBEEF, 0x8000};
    QTest::newRow("none")                       << QList<uint16_t>{};
}

void TestKeymarkParameters::ampwiseChips()
{
    QFETCH(QList<uint16_t>, status);
    KeymarkRig rig;
    SimTagConfig config;
    config.ampwiseStatus = status;
    rig.withPort([&](SimKeymarkPort& port) { port.insertTag(config); });
    QVERIFY(rig.start());
    int count = -1;
    QVERIFY(rig.read(AmpwiseCount, count));
    QCOMPARE(count, int(status.size()));
    for (int i = 0; i < count; ++i) {
        const uint number = km::ampwiseStatusParameter(i);
        general::Parameter* parameter = rig.device()->findParameter(number);
        if (!parameter) {
            // The shipped definitions name the first two chips only; the
            // network reads any number of the map.
            bool ok = false;
            QCOMPARE(int(rig.network()->readParameter(0xFE, number, false, ok)), int(status.at(i)));
            QVERIFY(ok);
            continue;
        }
        int word = -1;
        QVERIFY(rig.read(number, word));
        QCOMPARE(word, int(status.at(i)));
    }
}

void TestKeymarkParameters::writeOnlyDongleWritesButCannotRead()
{
    KeymarkRig rig(KeymarkRig::WriteOnly);
    rig.withPort([](SimKeymarkPort& port) { port.insertTag(driverOnBench()); });
    QVERIFY(rig.start());
    QVERIFY(rig.write(km::currentSourceParameter(2), 900));
    QVERIFY(rig.write(NtcTemperature, 60));
    QVERIFY(rig.write(DimmingCurve, 0));
    const Held now = held(rig);
    QCOMPARE(int(now.currents[2]), 900);
    QCOMPARE(int(now.ntc), 60);
    QCOMPARE(int(now.curve), 0);
    int value = -1;
    QVERIFY(!rig.read(NtcTemperature, value));
    QVERIFY(!rig.read(km::currentSourceParameter(0), value));
}

QTEST_GUILESS_MAIN(TestKeymarkParameters)
#include "tst_keymarkparameters.moc"
