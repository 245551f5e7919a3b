// The binary address-space search against a scripted bus: the exact order
// of range questions, verifications and mutes, the end after eleven silent
// whole-range questions, the single-reply shortcut, aborting, and large
// random populations.

#include "general/binsearch.h"

#include <QRandomGenerator>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>

#include <unistd.h>

using namespace halvorn::general;

namespace {

// A bus whose devices answer range questions from a set of addresses, as
// correct equipment would: no answer, one answer, or a collision. Every
// question, verification and mute is recorded in order as text:
// "4-7" (a question), "verify 4 no", "verify 5 yes", "mute 5".
class ScriptedBus : public BinSearch
{
public:
    ScriptedBus(const std::set<quint64>& devices, quint64 low, quint64 high,
                bool shortcut = false)
        : BinSearch(QStringLiteral("Scripted search"), low, high, shortcut)
        , m_devices(devices)
    {
        setTraceEnabled(false);
    }

    // Called after each question has been answered (the number asked so far).
    std::function<void(int)> afterQuestion;
    // The shortcut's bus could not decode the single reply.
    bool undecodableSingleReply = false;

    void prepare() override { ++prepareCalls; }

    int checkCondition(SearchNode* node) override
    {
        const std::vector<quint64> answering = unmutedIn(node->low, node->high, 2);
        const int answer = answering.empty() ? NoReply
                           : answering.size() == 1 ? SingleReply
                                                   : MultipleReplies;
        m_lastSingle = answer == SingleReply ? answering.front() : NoAddress;
        events << rangeText(node->low, node->high);
        ++questions;
        traceCheckCondition(node, answer);
        if (afterQuestion)
            afterQuestion(questions);
        return answer;
    }

    bool verify(SearchNode* node) override
    {
        traceVerify(node);
        const bool confirmed = m_devices.count(node->low) && !m_muted.count(node->low);
        events << QStringLiteral("verify %1 %2").arg(node->low).arg(confirmed ? "yes" : "no");
        if (confirmed)
            ++confirmedCount[node->low];
        return confirmed;
    }

    void mute(SearchNode* node) override
    {
        traceMute(node);
        m_muted.insert(node->low);
        events << QStringLiteral("mute %1").arg(node->low);
    }

    SearchNode* singleReplyNode() override
    {
        if (undecodableSingleReply || m_lastSingle == NoAddress)
            return nullptr;
        return makeNode(m_lastSingle, m_lastSingle);
    }

    static QString rangeText(quint64 low, quint64 high)
    {
        return low == high ? QString::number(low) : QStringLiteral("%1-%2").arg(low).arg(high);
    }

    QStringList events;
    int questions = 0;
    int prepareCalls = 0;
    std::map<quint64, int> confirmedCount;

private:
    static constexpr quint64 NoAddress = ~quint64(0);

    std::vector<quint64> unmutedIn(quint64 low, quint64 high, size_t atMost) const
    {
        std::vector<quint64> found;
        for (auto it = m_devices.lower_bound(low); it != m_devices.end() && *it <= high; ++it) {
            if (!m_muted.count(*it))
                found.push_back(*it);
            if (found.size() == atMost)
                break;
        }
        return found;
    }

    const std::set<quint64> m_devices;
    std::set<quint64> m_muted;
    quint64 m_lastSingle = NoAddress;
};

// Devices that do not answer the first whole-range questions (still
// powering up when the search starts).
class LateDeviceBus : public ScriptedBus
{
public:
    LateDeviceBus(const std::set<quint64>& devices, quint64 low, quint64 high, int silentQuestions)
        : ScriptedBus(devices, low, high)
        , m_silentQuestions(silentQuestions)
    {
    }

    int checkCondition(SearchNode* node) override
    {
        if (questions < m_silentQuestions) {
            events << rangeText(node->low, node->high);
            ++questions;
            return NoReply;
        }
        return ScriptedBus::checkCondition(node);
    }

private:
    const int m_silentQuestions;
};

QStringList events(const QString& list)
{
    return list.split(QStringLiteral(", "), Qt::SkipEmptyParts);
}

// The end of every search: the whole range asked eleven times without answer.
QStringList silentWholeRange(const QString& range)
{
    return QStringList(11, range);
}

QList<int> progressValues(const QSignalSpy& spy)
{
    QList<int> values;
    for (const QList<QVariant>& arguments : spy) {
        if (arguments.at(2).toInt() != 10)
            return {-1}; // a maximum other than 10 fails the comparison
        values << arguments.at(1).toInt();
    }
    return values;
}

const QList<int> OneToTen = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

// Every answer of a range leads to at least one muted device below it, and
// costs at most three questions: its two halves, and the range itself again
// after the descent. A device has `bits` ranges above it, so n devices cost
// at most 3 × n × bits questions before the eleven silent whole-range ones.
// (A lone device at 5 in [0, 15] already takes 11 + 11 questions, more than
// 2 × 4 + 11: two questions per bit is not enough for this walk.)
int questionBound(int deviceCount, int bits)
{
    return 3 * deviceCount * bits + 11;
}

} // namespace

Q_DECLARE_METATYPE(std::set<quint64>)

class TestBinSearch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void walksTheAddressSpaceInOrder_data();
    void walksTheAddressSpaceInOrder();
    void endsAfterElevenSilentWholeRangeQuestions();
    void confirmedDeviceResetsTheRetries();
    void shortcutReturningNoNodeDescendsAsForACollision();
    void abortStopsBeforeTheNextQuestion_data();
    void abortStopsBeforeTheNextQuestion();
    void abortFromAnotherThreadStopsTheRunningSearch();
    void findsEveryDeviceOfARandomPopulation_data();
    void findsEveryDeviceOfARandomPopulation();
    void handlesTheEdgesOfTheSixtyFourBitSpace();
    void reversedRangeIsSearchedInAscendingOrder();
    void writesTraceLinesToStandardOutput();
};

void TestBinSearch::walksTheAddressSpaceInOrder_data()
{
    QTest::addColumn<std::set<quint64>>("devices");
    QTest::addColumn<quint64>("high");
    QTest::addColumn<bool>("shortcut");
    QTest::addColumn<QStringList>("expected");

    // A single address reached by descending is verified without being
    // asked; one taken from the stack is asked first. Parents are asked
    // again on the way back up, and the whole range eleven times at the end.
    QTest::newRow("one device at 5")
        << std::set<quint64>{5} << quint64(15) << false
        << events("0-15, 0-7, 0-3, 4-7, 4-5, verify 4 no, 5, verify 5 yes, mute 5, "
                  "4-5, 6-7, 4-7, 0-7, 8-15") + silentWholeRange("0-15");
    QTest::newRow("adjacent devices at 6 and 7")
        << std::set<quint64>{6, 7} << quint64(15) << false
        << events("0-15, 0-7, 0-3, 4-7, 4-5, 6-7, verify 6 yes, mute 6, 7, verify 7 yes, mute 7, "
                  "6-7, 4-7, 0-7, 8-15") + silentWholeRange("0-15");
    QTest::newRow("one device at the bottom edge")
        << std::set<quint64>{0} << quint64(15) << false
        << events("0-15, 0-7, 0-3, 0-1, verify 0 yes, mute 0, 1, 0-1, 2-3, 0-3, 4-7, 0-7, 8-15")
               + silentWholeRange("0-15");
    QTest::newRow("no device")
        << std::set<quint64>{} << quint64(15) << false << silentWholeRange("0-15");
    // [0, 2] splits into [0, 1] and the single 2, which is asked after the
    // silent left half and verified because it answers.
    QTest::newRow("device behind a silent left half of an uneven range")
        << std::set<quint64>{2} << quint64(2) << false
        << events("0-2, 0-1, 2, verify 2 yes, mute 2") + silentWholeRange("0-2");
    QTest::newRow("popped single address that stays silent is not verified")
        << std::set<quint64>{0} << quint64(2) << false
        << events("0-2, 0-1, verify 0 yes, mute 0, 1, 0-1, 2") + silentWholeRange("0-2");
    QTest::newRow("shortcut verifies the named address at once")
        << std::set<quint64>{9} << quint64(15) << true
        << events("0-15, verify 9 yes, mute 9, 8-15") + silentWholeRange("0-15");
    QTest::newRow("shortcut does not skip a collision")
        << std::set<quint64>{2, 3} << quint64(15) << true
        << events("0-15, 0-7, 0-3, 0-1, 2-3, verify 2 yes, mute 2, 3, verify 3 yes, mute 3, "
                  "2-3, 0-3, 4-7, 0-7, 8-15") + silentWholeRange("0-15");
}

void TestBinSearch::walksTheAddressSpaceInOrder()
{
    QFETCH(std::set<quint64>, devices);
    QFETCH(quint64, high);
    QFETCH(bool, shortcut);
    QFETCH(QStringList, expected);

    ScriptedBus bus(devices, 0, high, shortcut);
    QSignalSpy progress(&bus, qOverload<Task*, int, int>(&Task::taskProgress));
    bus.execute();

    QCOMPARE(bus.events, expected);
    QCOMPARE(bus.prepareCalls, 1);
    QCOMPARE(progressValues(progress), OneToTen);
    for (quint64 address : devices)
        QCOMPARE(bus.confirmedCount[address], 1);
}

void TestBinSearch::endsAfterElevenSilentWholeRangeQuestions()
{
    ScriptedBus bus({}, 0, 0xFFFFFF);
    QSignalSpy progress(&bus, qOverload<Task*, int, int>(&Task::taskProgress));
    QSignalSpy aborted(&bus, &Task::taskAborted);
    QSignalSpy done(&bus, &Task::taskDone);

    bus.run();

    QCOMPARE(bus.events, silentWholeRange("0-16777215"));
    QCOMPARE(bus.questionCount(), quint64(11));
    QVERIFY(bus.confirmedCount.empty());
    QCOMPARE(progressValues(progress), OneToTen);
    QCOMPARE(progress.first().at(0).value<Task*>(), &bus);
    QCOMPARE(aborted.count(), 0);
    QCOMPARE(done.count(), 1);
}

void TestBinSearch::confirmedDeviceResetsTheRetries()
{
    // A device that stays silent for the first three whole-range questions
    // (still powering up) is found on the fourth; ten retries follow again.
    LateDeviceBus bus({12}, 0, 15, 3);
    QSignalSpy progress(&bus, qOverload<Task*, int, int>(&Task::taskProgress));

    bus.execute();

    QCOMPARE(bus.confirmedCount[12], 1);
    QCOMPARE(progressValues(progress), QList<int>({1, 2, 3}) + OneToTen);
    QCOMPARE(bus.events.count(QStringLiteral("0-15")), 3 + 1 + 11);
    QCOMPARE(bus.events.mid(bus.events.size() - 11), silentWholeRange("0-15"));
}

void TestBinSearch::shortcutReturningNoNodeDescendsAsForACollision()
{
    ScriptedBus bus({9}, 0, 15, true);
    bus.undecodableSingleReply = true;

    bus.execute();

    QCOMPARE(bus.events,
             events("0-15, 0-7, 8-15, 8-11, 8-9, verify 8 no, 9, verify 9 yes, mute 9, "
                    "8-9, 10-11, 8-11, 12-15, 8-15")
                 + silentWholeRange("0-15"));
}

void TestBinSearch::abortStopsBeforeTheNextQuestion_data()
{
    QTest::addColumn<quint64>("high");
    QTest::addColumn<int>("abortAfter");
    // Questions for the device at 5 in [0, 15]: 0-15, 0-7, 0-3, 4-7, 4-5,
    // 5, … and in [0, 2]: 0-2, 0-1, then the popped single 2.
    QTest::newRow("during the first question") << quint64(15) << 1;
    QTest::newRow("during the descent") << quint64(15) << 3;
    QTest::newRow("before the descent reaches a single address") << quint64(15) << 5;
    QTest::newRow("while asking a popped single address") << quint64(15) << 6;
    QTest::newRow("during the silent whole-range questions") << quint64(15) << 16;
    QTest::newRow("before asking a single address after a silent range") << quint64(2) << 2;
}

void TestBinSearch::abortStopsBeforeTheNextQuestion()
{
    QFETCH(quint64, high);
    QFETCH(int, abortAfter);
    ScriptedBus bus({high == 2 ? 2u : 5u}, 0, high);
    bus.afterQuestion = [&bus, abortAfter](int asked) {
        if (asked == abortAfter)
            bus.abort();
    };
    QSignalSpy aborted(&bus, &Task::taskAborted);
    QSignalSpy done(&bus, &Task::taskDone);

    bus.run();

    QCOMPARE(bus.questions, abortAfter);
    QCOMPARE(aborted.count(), 1);
    QCOMPARE(done.count(), 1);
}

void TestBinSearch::abortFromAnotherThreadStopsTheRunningSearch()
{
    // The bus holds its third answer until the test thread has aborted.
    ScriptedBus bus({5, 300, 7000}, 0, 0xFFFF);
    QSemaphore inThirdQuestion;
    QSemaphore abortGiven;
    bool waitTimedOut = false;
    bus.afterQuestion = [&](int asked) {
        if (asked != 3)
            return;
        inThirdQuestion.release();
        waitTimedOut = !abortGiven.tryAcquire(1, 5000);
    };
    QSignalSpy aborted(&bus, &Task::taskAborted);

    std::unique_ptr<QThread> worker(QThread::create([&bus] { bus.run(); }));
    worker->start();
    QVERIFY(inThirdQuestion.tryAcquire(1, 5000));
    bus.abort();
    abortGiven.release();
    QVERIFY(worker->wait(5000));

    QVERIFY(!waitTimedOut);
    QCOMPARE(bus.questions, 3);
    QCOMPARE(aborted.count(), 1);
}

void TestBinSearch::findsEveryDeviceOfARandomPopulation_data()
{
    QTest::addColumn<int>("deviceCount");
    QTest::addColumn<int>("addressBits");
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<bool>("shortcut");

    QTest::newRow("50 in 24 bits, seed 1") << 50 << 24 << 1u << false;
    QTest::newRow("50 in 24 bits, seed 2") << 50 << 24 << 2u << false;
    QTest::newRow("50 in 24 bits, seed 3") << 50 << 24 << 3u << false;
    QTest::newRow("50 in 32 bits") << 50 << 32 << 4u << false;
    QTest::newRow("50 in 48 bits with the shortcut") << 50 << 48 << 5u << true;
    QTest::newRow("200 in 16 bits (crowded)") << 200 << 16 << 6u << false;
}

void TestBinSearch::findsEveryDeviceOfARandomPopulation()
{
    QFETCH(int, deviceCount);
    QFETCH(int, addressBits);
    QFETCH(quint32, seed);
    QFETCH(bool, shortcut);

    QRandomGenerator random(seed);
    const quint64 high = (quint64(1) << addressBits) - 1;
    std::set<quint64> devices;
    while (int(devices.size()) < deviceCount)
        devices.insert(random.generate64() & high);

    ScriptedBus bus(devices, 0, high, shortcut);
    bus.execute();

    for (quint64 address : devices)
        QVERIFY2(bus.confirmedCount[address] == 1, qPrintable(QString::number(address)));
    QCOMPARE(bus.confirmedCount.size(), devices.size());
    const int bound = questionBound(deviceCount, addressBits);
    QVERIFY2(bus.questions <= bound,
             qPrintable(QStringLiteral("%1 questions, bound %2").arg(bus.questions).arg(bound)));
    QCOMPARE(bus.events.mid(bus.events.size() - 11),
             silentWholeRange(ScriptedBus::rangeText(0, high)));
}

void TestBinSearch::handlesTheEdgesOfTheSixtyFourBitSpace()
{
    const quint64 top = ~quint64(0);
    const std::set<quint64> devices{0, quint64(1) << 63, top - 1, top};
    ScriptedBus bus(devices, 0, top);

    bus.execute();

    for (quint64 address : devices)
        QCOMPARE(bus.confirmedCount[address], 1);
    QCOMPARE(bus.confirmedCount.size(), devices.size());
    QVERIFY(bus.questions <= questionBound(int(devices.size()), 64));
}

void TestBinSearch::reversedRangeIsSearchedInAscendingOrder()
{
    ScriptedBus bus({5}, 15, 0);
    QCOMPARE(bus.low(), quint64(0));
    QCOMPARE(bus.high(), quint64(15));

    bus.execute();

    QCOMPARE(bus.events.first(), QStringLiteral("0-15"));
    QCOMPARE(bus.confirmedCount[5], 1);
}

void TestBinSearch::writesTraceLinesToStandardOutput()
{
    QTemporaryFile capture;
    QVERIFY(capture.open());
    std::fflush(stdout);
    const int savedStdout = dup(fileno(stdout));
    QVERIFY(savedStdout >= 0);
    QVERIFY(dup2(capture.handle(), fileno(stdout)) >= 0);

    ScriptedBus bus({5}, 0, 15);
    bus.setTraceEnabled(true);
    bus.execute();

    std::fflush(stdout);
    dup2(savedStdout, fileno(stdout));
    close(savedStdout);

    capture.seek(0);
    const QStringList lines = QString::fromLocal8Bit(capture.readAll()).split(QLatin1Char('\n'));
    QCOMPARE(lines.first(), QStringLiteral("*** CheckCondition 0x0..0xF : SINGLE"));
    QVERIFY(lines.contains(QStringLiteral("*** CheckCondition 0x0..0x3 : NO REPLY")));
    QVERIFY(lines.contains(QStringLiteral("*** Verify 0x5..0x5")));
    QVERIFY(lines.contains(QStringLiteral("*** Mute 0x5..0x5")));
    // One after the descent emptied the stack, eleven for the silent whole range.
    QCOMPARE(lines.count(QStringLiteral("  End..")), 12);
}

QTEST_GUILESS_MAIN(TestBinSearch)
#include "tst_binsearch.moc"
