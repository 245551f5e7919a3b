#pragma once

#include "general/search.h"
#include "general/searchnode.h"

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
class BinSearch : public Search
{
    Q_OBJECT

public:
    enum Answer { NoReply = 0, MultipleReplies = 1, SingleReply = 2 };

    BinSearch(const QString& name, quint64 low, quint64 high, bool singleReplyShortcut);
    ~BinSearch() override;

    void execute() override;

    QString searchName() const { return m_searchName; }
    quint64 low() const { return m_low; }
    quint64 high() const { return m_high; }

    // The node of the one address that answered the last check (used only
    // with the single-reply shortcut); nullptr when there is none.
    virtual SearchNode* singleReplyNode();
    virtual void prepare() = 0;
    virtual void mute(SearchNode* node) = 0;
    // 0 no reply, 1 several replies (collision), 2 one reply.
    virtual int checkCondition(SearchNode* node) = 0;
    // Confirms that exactly one device has address node->low and takes note of it.
    virtual bool verify(SearchNode* node) = 0;

Q_SIGNALS:
    void valueFound(long long value);

protected:
    // Diagnostic lines on standard output.
    void traceVerify(const SearchNode* node) const;
    void traceMute(const SearchNode* node) const;
    void traceCheckCondition(const SearchNode* node, int result) const;
    // A node owned by the search (for subclasses that name single addresses).
    SearchNode* makeNode(quint64 low, quint64 high);

private:
    const QString m_searchName;
    const quint64 m_low;
    const quint64 m_high;
    const bool m_singleReplyShortcut;
    std::vector<SearchNode*> m_stack;
    std::vector<std::unique_ptr<SearchNode>> m_nodes; // every node made by this search
    SearchNode* m_root = nullptr;
};

} // namespace halvorn::general
