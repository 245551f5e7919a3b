#include "general/binsearch.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <utility>

namespace halvorn::general {

namespace {

// Whole-range questions allowed to stay silent after the first one.
constexpr int SilentRootRetries = 10;
// Devices the default question limit allows for.
constexpr quint64 LimitDeviceCount = 4096;

quint64 defaultQuestionLimit(quint64 low, quint64 high)
{
    const quint64 width = quint64(std::bit_width(high - low));
    return LimitDeviceCount * (2 * width + 2) + SilentRootRetries + 1;
}

} // namespace

BinSearch::BinSearch(const QString& name, quint64 low, quint64 high, bool singleReplyShortcut)
    : Search(name, false)
    , m_searchName(name)
    , m_low(std::min(low, high))
    , m_high(std::max(low, high))
    , m_singleReplyShortcut(singleReplyShortcut)
    , m_questionLimit(defaultQuestionLimit(m_low, m_high))
{
}

BinSearch::~BinSearch() = default;

SearchNode* BinSearch::singleReplyNode()
{
    return nullptr;
}

void BinSearch::execute()
{
    m_stack.clear();
    m_nodes.clear();
    m_questionCount = 0;
    m_root = makeNode(m_low, m_high);
    prepare();

    SearchNode* cur = m_root;
    bool popped = false;
    int retries = SilentRootRetries;
    int result = NoReply;
    Step step = Step::Examine;
    while (step != Step::End) {
        switch (step) {
        case Step::Examine:
            step = examine(cur, popped, result);
            break;
        case Step::Answer:
            step = answer(cur, popped, result);
            break;
        case Step::NoAnswer:
            step = noAnswer(cur, popped);
            break;
        case Step::Verify:
            step = verifyCurrent(cur, popped, retries);
            break;
        case Step::StackEmpty:
            step = stackEmpty(cur);
            break;
        case Step::Exhausted:
            step = exhausted(cur, retries);
            break;
        case Step::End:
            break;
        }
    }
    m_stack.clear();
}

BinSearch::Step BinSearch::examine(SearchNode*& cur, bool& popped, int& result)
{
    // Its parent answered and its sibling will be asked: no need to ask it.
    if (cur->isSingle() && !popped)
        return Step::Verify;
    if (!ask(cur, result))
        return Step::End;
    return result == NoReply ? Step::NoAnswer : Step::Answer;
}

BinSearch::Step BinSearch::answer(SearchNode*& cur, bool& popped, int result)
{
    // A single address is verified directly; the shortcut only skips a descent.
    if (m_singleReplyShortcut && result == SingleReply && !cur->isSingle()) {
        // An undecodable single reply (no node) is treated as a collision.
        if (SearchNode* named = singleReplyNode()) {
            push(cur);
            split(cur);
            push(cur->right);
            cur = named;
            return Step::Verify;
        }
    }
    if (cur->isSingle())
        return Step::Verify;

    push(cur);
    split(cur);
    push(cur->right);
    cur = cur->left;
    popped = false;
    return m_stack.empty() ? Step::StackEmpty : Step::Examine;
}

BinSearch::Step BinSearch::noAnswer(SearchNode*& cur, bool& popped)
{
    if (m_stack.empty())
        return Step::Exhausted;

    cur = pop();
    if (!cur->isSingle()) {
        popped = false;
        return m_stack.empty() ? Step::StackEmpty : Step::Examine;
    }

    // A single address from the stack is verified only if it answers.
    int result = NoReply;
    if (!ask(cur, result))
        return Step::End;
    if (result != NoReply) {
        popped = false;
        return Step::Examine;
    }
    if (m_stack.empty())
        return Step::End;
    cur = pop();
    popped = false;
    return m_stack.empty() ? Step::StackEmpty : Step::Examine;
}

BinSearch::Step BinSearch::verifyCurrent(SearchNode*& cur, bool& popped, int& retries)
{
    if (verify(cur)) {
        mute(cur);
        retries = SilentRootRetries;
    }
    if (m_stack.empty())
        return Step::End;
    cur = pop();
    popped = true;
    return Step::Examine;
}

BinSearch::Step BinSearch::stackEmpty(const SearchNode* cur)
{
    if (cur->isSingle())
        return Step::Verify;
    traceLine(QStringLiteral("  End.."));
    return Step::Examine;
}

BinSearch::Step BinSearch::exhausted(const SearchNode* cur, int& retries)
{
    if (cur->isSingle())
        return Step::Verify;
    traceLine(QStringLiteral("  End.."));
    if (retries == 0)
        return Step::End;
    --retries;
    reportProgress(SilentRootRetries - retries, SilentRootRetries);
    return Step::Examine;
}

bool BinSearch::ask(SearchNode* node, int& result)
{
    if (isAborted())
        return false;
    if (m_questionCount.load() >= m_questionLimit.load()) {
        traceLine(QStringLiteral("  Question limit reached.."));
        return false;
    }
    ++m_questionCount;
    result = checkCondition(node);
    return true;
}

void BinSearch::split(SearchNode* node)
{
    if (node->left || node->isSingle())
        return;
    const quint64 mid = node->middle();
    node->left = makeNode(node->low, mid);
    node->right = makeNode(mid + 1, node->high);
}

SearchNode* BinSearch::pop()
{
    SearchNode* node = m_stack.back();
    m_stack.pop_back();
    return node;
}

SearchNode* BinSearch::makeNode(quint64 low, quint64 high)
{
    auto node = std::make_unique<SearchNode>();
    node->low = std::min(low, high);
    node->high = std::max(low, high);
    m_nodes.push_back(std::move(node));
    return m_nodes.back().get();
}

QString BinSearch::rangeText(const SearchNode* node)
{
    if (!node)
        return QStringLiteral("<none>");
    return QStringLiteral("0x%1..0x%2")
        .arg(QString::number(node->low, 16).toUpper(), QString::number(node->high, 16).toUpper());
}

void BinSearch::traceVerify(const SearchNode* node) const
{
    traceLine(QStringLiteral("*** Verify ") + rangeText(node));
}

void BinSearch::traceMute(const SearchNode* node) const
{
    traceLine(QStringLiteral("*** Mute ") + rangeText(node));
}

void BinSearch::traceCheckCondition(const SearchNode* node, int result) const
{
    QString answer;
    switch (result) {
    case NoReply:
        answer = QStringLiteral("NO REPLY");
        break;
    case MultipleReplies:
        answer = QStringLiteral("MULTIPLE");
        break;
    case SingleReply:
        answer = QStringLiteral("SINGLE");
        break;
    default:
        answer = QStringLiteral("UNKNOWN (%1)").arg(result);
        break;
    }
    traceLine(QStringLiteral("*** CheckCondition ") + rangeText(node) + QStringLiteral(" : ") + answer);
}

void BinSearch::traceLine(const QString& line) const
{
    if (!m_traceEnabled.load())
        return;
    // One call per line, so that lines of concurrent writers do not interleave.
    const QByteArray text = (line + QLatin1Char('\n')).toLocal8Bit();
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
}

} // namespace halvorn::general
