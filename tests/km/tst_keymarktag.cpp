// The Keymark tag image and the form's pure helpers: property encoding and
// change signals, checksum, growth and copies of the image; the percentage
// ↔ DALI level conversions of both dimming curves and the parameter numbers.

#include "km/keymarkmath.h"
#include "km/keymarktag.h"

#include <QLoggingCategory>
#include <QSignalSpy>
#include <QStringList>
#include <QtTest>

#include <cmath>

using halvorn::km::ampwiseStatusParameter;
using halvorn::km::currentSourceParameter;
using halvorn::km::DALIToPerc;
using halvorn::km::KeymarkTag;
using halvorn::km::PercToDALI;

namespace {

// The change signals a tag emitted, by name, in order.
class SignalRecorder
{
public:
    explicit SignalRecorder(KeymarkTag& tag)
    {
        const auto record = [this](const char* name) { return [this, name] { m_names << name; }; };
        QObject::connect(&tag, &KeymarkTag::thermalThrottlingTempChanged, record("thermal"));
        QObject::connect(&tag, &KeymarkTag::current1Changed, record("current1"));
        QObject::connect(&tag, &KeymarkTag::current2Changed, record("current2"));
        QObject::connect(&tag, &KeymarkTag::current3Changed, record("current3"));
        QObject::connect(&tag, &KeymarkTag::current4Changed, record("current4"));
        QObject::connect(&tag, &KeymarkTag::checksumChanged, record("checksum"));
    }
    QStringList names() const { return m_names; }
    void clear() { m_names.clear(); }

private:
    QStringList m_names;
};

// Silences the conversions' debug lines for loops over every level.
class QuietDebug
{
public:
    QuietDebug() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }
    ~QuietDebug() { QLoggingCategory::setFilterRules(QString()); }
};

} // namespace

class TestKeymarkTag : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void propertiesEncodeTheirBytes_data();
    void propertiesEncodeTheirBytes();
    void checksumSumsBytesOneOnward_data();
    void checksumSumsBytesOneOnward();
    void imageGrowsOnlyWhenWrittenBeyond();
    void bulkChangesCopyAndAnnounce();

    void conversions_data();
    void conversions();
    void roundTrips_data();
    void roundTrips();
};

void TestKeymarkTag::propertiesEncodeTheirBytes_data()
{
    QTest::addColumn<QString>("property");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("readBack");
    //                                    property                  value      index  bytes            read back
    QTest::newRow("current1 700")     << "current1"              << 700     << 17 << QByteArray("\x02\xBC", 2) << 700;
    QTest::newRow("current2 1050")    << "current2"              << 1050    << 19 << QByteArray("\x04\x1A", 2) << 1050;
    QTest::newRow("current3 max")     << "current3"              << 65535   << 21 << QByteArray("\xFF\xFF", 2) << 65535;
    QTest::newRow("current4 17 bits") << "current4"              << 0x12345 << 23 << QByteArray("\x23\x45", 2) << 0x2345;
    QTest::newRow("thermal 85")       << "thermalThrottlingTemp" << 85      << 16 << QByteArray("\x55", 1) << 85;
    QTest::newRow("thermal 9 bits")   << "thermalThrottlingTemp" << 0x1FF   << 16 << QByteArray("\xFF", 1) << 255;
    QTest::newRow("checksum")         << "checksum"              << 0x1A5   << 0  << QByteArray("\xA5", 1) << 0xA5;
}

void TestKeymarkTag::propertiesEncodeTheirBytes()
{
    QFETCH(QString, property);
    QFETCH(int, value);
    QFETCH(int, index);
    QFETCH(QByteArray, bytes);
    QFETCH(int, readBack);
    KeymarkTag tag;
    QVERIFY(tag.setProperty(qPrintable(property), value));
    QCOMPARE(tag.bytes().mid(index, bytes.size()), bytes);
    QCOMPARE(tag.property(qPrintable(property)).toInt(), readBack);
    // Nothing else moved.
    QByteArray expected(KeymarkTag::Size, '\0');
    expected.replace(index, bytes.size(), bytes);
    QCOMPARE(tag.bytes(), expected);
}

void TestKeymarkTag::checksumSumsBytesOneOnward_data()
{
    QTest::addColumn<QList<int>>("setBytes"); // index, value pairs
    QTest::addColumn<int>("checksum");
    QTest::newRow("all zero")            << QList<int>{} << 0;
    QTest::newRow("bytes 1 and 2 0xFF")  << QList<int>{1, 0xFF, 2, 0xFF} << 0xFE;
    QTest::newRow("old checksum ignored")<< QList<int>{0, 0x77, 5, 3} << 3;
    QTest::newRow("last byte counts")    << QList<int>{127, 0x10} << 0x10;
    QTest::newRow("wraps many times")    << QList<int>{10, 0x80, 20, 0x80, 30, 0x80, 40, 0x81} << 0x01;
    QTest::newRow("grown image counts")  << QList<int>{130, 0x05, 1, 0x01} << 0x06;
}

void TestKeymarkTag::checksumSumsBytesOneOnward()
{
    QFETCH(QList<int>, setBytes);
    QFETCH(int, checksum);
    KeymarkTag tag;
    for (int i = 0; i + 1 < setBytes.size(); i += 2)
        tag.setByte(setBytes.at(i), quint8(setBytes.at(i + 1)));
    QSignalSpy changed(&tag, &KeymarkTag::checksumChanged);
    tag.updateChecksum();
    QCOMPARE(tag.checksum(), checksum);
    QCOMPARE(changed.count(), 0);
}

void TestKeymarkTag::imageGrowsOnlyWhenWrittenBeyond()
{
    KeymarkTag tag;
    QCOMPARE(tag.size(), 128);
    QCOMPARE(tag.byteAt(-1), quint8(0));
    QCOMPARE(tag.byteAt(128), quint8(0));
    tag.setByte(-3, 9);
    QCOMPARE(tag.size(), 128);
    tag.setWord(127, 0xABCD);
    QCOMPARE(tag.size(), 129);
    QCOMPARE(tag.byteAt(127), quint8(0xAB));
    QCOMPARE(tag.byteAt(128), quint8(0xCD));
    tag.setByte(140, 1);
    QCOMPARE(tag.size(), 141);
    QCOMPARE(tag.byteAt(139), quint8(0));
    // Out-of-range sources are ignored.
    tag.setCurrent(4, 500);
    tag.setCurrent(-1, 500);
    QCOMPARE(tag.current(4), 0);
    QCOMPARE(tag.bytes().left(25), QByteArray(25, '\0'));
    QCOMPARE(currentSourceParameter(4), 0u);
    QCOMPARE(currentSourceParameter(-1), 0u);
    QCOMPARE(ampwiseStatusParameter(-1), 0u);
}

void TestKeymarkTag::bulkChangesCopyAndAnnounce()
{
    KeymarkTag source;
    source.setCurrent2(1000);
    source.setThermalThrottlingTemp(70);
    source.setByte(127, 0x42);
    source.setByte(128, 0x99); // beyond the image: not copied
    source.updateChecksum();

    KeymarkTag copy;
    copy.setByte(128, 0x11);
    SignalRecorder recorder(copy);
    // A setter announces even an unchanged value; the checksum is kept by hand.
    copy.setCurrent1(700);
    copy.setCurrent1(700);
    QCOMPARE(recorder.names(), QStringList({"current1", "current1"}));
    QCOMPARE(copy.checksum(), 0);
    recorder.clear();
    copy.copyFrom(&source);
    QCOMPARE(copy.bytes().left(128), source.bytes().left(128));
    QCOMPARE(copy.byteAt(128), quint8(0x11));
    QCOMPARE(recorder.names(),
             QStringList({"thermal", "current1", "current2", "current3", "current4", "checksum"}));

    copy.copyFrom(nullptr);
    copy.copyFrom(&copy);
    QCOMPARE(recorder.names().size(), 6);

    copy.clear();
    QCOMPARE(copy.bytes(), QByteArray(129, '\0'));
    QCOMPARE(recorder.names().size(), 12);
}

void TestKeymarkTag::conversions_data()
{
    QTest::addColumn<double>("percent");
    QTest::addColumn<int>("curve");
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("direction");
    enum { ToLevel = 1, ToPercent = 2, Both = 3 };
    //                                     percent  curve level direction
    QTest::newRow("linear 0.1 % = 1")     << 0.1      << 0 << 1   << int(Both);
    QTest::newRow("linear 100 % = 254")   << 100.0    << 0 << 254 << int(Both);
    QTest::newRow("linear 50 % to 127")   << 50.0     << 0 << 127 << int(ToLevel); // 127.37
    QTest::newRow("linear 0.05 % to 1")   << 0.05     << 0 << 1   << int(ToLevel);
    QTest::newRow("linear 150 % to 254")  << 150.0    << 0 << 254 << int(ToLevel);
    QTest::newRow("linear 128 to 50.25 %") << 50.24743 << 0 << 128 << int(ToPercent);
    QTest::newRow("linear 0 clamped")     << 0.1      << 0 << 0   << int(ToPercent);
    QTest::newRow("log 100 % = 254")      << 100.0    << 1 << 254 << int(Both);
    QTest::newRow("log 0.1 % = 1")        << 0.1      << 1 << 1   << int(Both);
    QTest::newRow("log 1 % to 85")        << 1.0      << 1 << 85  << int(ToLevel); // 85.33
    QTest::newRow("log 85 to 0.99 %")     << 0.99094  << 1 << 85  << int(ToPercent);
    QTest::newRow("log 10 % to 170")      << 10.0     << 1 << 170 << int(ToLevel); // 169.67
    QTest::newRow("log 0 % to 1")         << 0.0      << 1 << 1   << int(ToLevel); // log10(0) = −inf
    QTest::newRow("log −5 % to 1")        << -5.0     << 1 << 1   << int(ToLevel); // log10 is NaN
    QTest::newRow("log 300 clamped")      << 100.0    << 1 << 300 << int(ToPercent);
    QTest::newRow("curve 7 is log")       << 1.0      << 7 << 85  << int(ToLevel);
}

void TestKeymarkTag::conversions()
{
    QFETCH(double, percent);
    QFETCH(int, curve);
    QFETCH(int, level);
    QFETCH(int, direction);
    QuietDebug quiet;
    if (direction & 1)
        QCOMPARE(PercToDALI(percent, curve), level);
    if (direction & 2)
        QVERIFY2(std::abs(DALIToPerc(level, curve) - percent) < 1e-4,
                 qPrintable(QString::number(DALIToPerc(level, curve), 'f', 6)));
}

void TestKeymarkTag::roundTrips_data()
{
    QTest::addColumn<int>("curve");
    QTest::newRow("linear") << 0;
    QTest::newRow("logarithmic") << 1;
}

void TestKeymarkTag::roundTrips()
{
    QFETCH(int, curve);
    QuietDebug quiet;
    // Every level survives the round trip, in rising percentages.
    double previous = 0.0;
    for (int level = 1; level <= 254; ++level) {
        const double percent = DALIToPerc(level, curve);
        QVERIFY2(percent > previous, qPrintable(QStringLiteral("level %1").arg(level)));
        QVERIFY2(PercToDALI(percent, curve) == level, qPrintable(QStringLiteral("level %1").arg(level)));
        previous = percent;
    }
    // A typed percentage snaps to a level once and then stays; levels never fall.
    int previousLevel = 1;
    for (int tenths = 1; tenths <= 1000; ++tenths) {
        const double percent = tenths / 10.0;
        const int level = PercToDALI(percent, curve);
        const double snapped = DALIToPerc(level, curve);
        const QString where = QStringLiteral("%1 %").arg(percent);
        QVERIFY2(level >= previousLevel, qPrintable(where));
        QVERIFY2(PercToDALI(snapped, curve) == level, qPrintable(where));
        QVERIFY2(DALIToPerc(PercToDALI(snapped, curve), curve) == snapped, qPrintable(where));
        previousLevel = level;
    }
}

QTEST_GUILESS_MAIN(TestKeymarkTag)
#include "tst_keymarktag.moc"
