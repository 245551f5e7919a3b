#pragma once

#include "general/search.h"
#include "general/searchnode.h"

#include <atomic>
#include <memory>
#include <vector>

namespace halvorn::general {

// A binary search of an address space (up to 64 bits) for devices that
// answer range questions: the tool asks whether any device with an address
// in [low, high] answers, the bus tells apart no answer, one answer and a
// collision, and the search narrows the range until single devices are
// isolated, verified and muted. The root range is asked again after every
// descent, so devices hidden by collisions are found once the others are
// muted; the search ends after the whole range has stayed silent eleven
// times in a row. Subclasses supply the bus questions.
//
// How the search walks the address space
// --------------------------------------
// The search keeps a stack of ranges still to be looked at and a current
// range `cur` (at first the whole space):
//
//  1. Ask `cur` (checkCondition). Before every question the task's abort
//     flag is tested; an aborted search stops there.
//  2. Something answers and `cur` is a range: push `cur`, then its right
//     half, and continue with its left half. (A parent is pushed before its
//     right half, so after both halves it is asked again.)
//  3. Nothing answers: take the next range from the stack. A single address
//     taken from the stack is asked first and verified only if it answers.
//  4. `cur` is a single address reached by descending: verify it WITHOUT
//     asking it first (its parent answered, and its sibling will be asked).
//     A confirmed device is muted and resets the retry count.
//  5. The stack runs empty with the whole range silent: ask the whole range
//     again, up to ten more times (taskProgress 1..10 of 10); every
//     confirmed device resets that count to ten.
// With `singleReplyShortcut` (RDM, where one clean reply carries the
// answering address) a SINGLE answer skips the descent: the address named by
// singleReplyNode() is verified at once.
//
// Writing a bus search
// --------------------
// Derive from BinSearch, pass the address space and the shortcut flag to the
// constructor, queue the object on the TaskScheduler. execute() runs in a
// pool thread, so every operation below runs there: take the network's
// recursive mutex around each bus exchange (Network::lock()), and report
// devices to the network (createDevice/deviceFound), never to widgets.
//
//  - prepare(): put the bus into search mode (for example un-mute every
//    device, or send the "initialise" and "randomise" commands). Called once
//    before the first question.
//  - checkCondition(node): ask whether any not-yet-muted device has an
//    address in [node->low, node->high]. Return NoReply (0) when nothing
//    answered, SingleReply (2) for one clean answer, MultipleReplies (1) for
//    a collision (garbled or several answers). A bus error is reported as
//    one of these three (NoReply when nothing usable came back); the
//    algorithm has no error state. Call traceCheckCondition(node, result).
//  - verify(node): confirm that exactly one device has address node->low
//    (for example address it directly and expect a clean reply) and take
//    note of it (create or report the device). Return true only when a
//    device was confirmed; it is muted next. Call traceVerify(node).
//  - mute(node): make the device at node->low stop answering range
//    questions for the rest of the search. Call traceMute(node).
//  - singleReplyNode() (only with the shortcut): after checkCondition
//    returned SingleReply, the node of the address that answered, made with
//    makeNode(address, address). Return nullptr when the reply could not be
//    decoded: the search then descends as for a collision.
//
// The number of questions for n devices is about n × 2 × address width plus
// the final eleven whole-range questions. A bus that never falls silent (a
// device that does not mute, noise read as answers) would keep the search
// going; the question limit (setQuestionLimit) bounds it.
class BinSearch : public Search
{
    Q_OBJECT

public:
    enum Answer { NoReply = 0, MultipleReplies = 1, SingleReply = 2 };

    // low > high is taken as the range [high, low].
    BinSearch(const QString& name, quint64 low, quint64 high, bool singleReplyShortcut);
    ~BinSearch() override;

    void execute() override;

    QString searchName() const { return m_searchName; }
    quint64 low() const { return m_low; }
    quint64 high() const { return m_high; }
    bool singleReplyShortcut() const { return m_singleReplyShortcut; }

    // Range questions asked by the last (or the running) execute().
    quint64 questionCount() const { return m_questionCount.load(); }
    // The most range questions one execute() may ask before it gives up.
    // The default allows for 4096 devices in the address space.
    quint64 questionLimit() const { return m_questionLimit.load(); }
    void setQuestionLimit(quint64 limit) { m_questionLimit = limit; }
    // Whether the trace lines are written (on by default; benchmarks and
    // tests that run thousands of searches switch them off).
    bool traceEnabled() const { return m_traceEnabled.load(); }
    void setTraceEnabled(bool enabled) { m_traceEnabled = enabled; }

    // The node of the one address that answered the last check (used only
    // with the single-reply shortcut); nullptr when there is none.
    virtual SearchNode* singleReplyNode();
    virtual void prepare() = 0;
    virtual void mute(SearchNode* node) = 0;
    // 0 no reply, 1 several replies (collision), 2 one reply.
    virtual int checkCondition(SearchNode* node) = 0;
    // Confirms that exactly one device has address node->low and takes note of it.
    virtual bool verify(SearchNode* node) = 0;

    // "0x4..0x5", as the trace lines show a range.
    static QString rangeText(const SearchNode* node);

Q_SIGNALS:
    void valueFound(long long value);

protected:
    // Diagnostic lines on standard output.
    void traceVerify(const SearchNode* node) const;
    void traceMute(const SearchNode* node) const;
    void traceCheckCondition(const SearchNode* node, int result) const;
    void traceLine(const QString& line) const;
    // A node owned by the search (for subclasses that name single addresses).
    SearchNode* makeNode(quint64 low, quint64 high);

private:
    enum class Step { Examine, Answer, NoAnswer, Verify, StackEmpty, Exhausted, End };

    // Tests the abort flag and the question limit, then asks the bus.
    // False when the search must end instead.
    bool ask(SearchNode* node, int& result);
    // The node's halves, made on the first call.
    void split(SearchNode* node);
    void push(SearchNode* node) { m_stack.push_back(node); }
    SearchNode* pop();

    Step examine(SearchNode*& cur, bool& popped, int& result);
    Step answer(SearchNode*& cur, bool& popped, int result);
    Step noAnswer(SearchNode*& cur, bool& popped);
    Step verifyCurrent(SearchNode*& cur, bool& popped, int& retries);
    Step stackEmpty(const SearchNode* cur);
    Step exhausted(const SearchNode* cur, int& retries);

    const QString m_searchName;
    const quint64 m_low;
    const quint64 m_high;
    const bool m_singleReplyShortcut;
    std::vector<SearchNode*> m_stack;
    std::vector<std::unique_ptr<SearchNode>> m_nodes; // every node made by this search
    SearchNode* m_root = nullptr;
    std::atomic<quint64> m_questionCount{0};
    std::atomic<quint64> m_questionLimit;
    std::atomic<bool> m_traceEnabled{true};
};

} // namespace halvorn::general
