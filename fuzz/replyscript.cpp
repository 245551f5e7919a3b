#include "fuzz/replyscript.h"

#include "fuzz/fuzzsupport.h"

namespace halvorn::fuzz {

namespace {

constexpr int LongestScriptedReply = 72;
constexpr int MostAppendedBytes = 8;

} // namespace

ReplyScript::ReplyScript(ByteReader& input)
    : m_input(input)
{
}

QByteArray ReplyScript::reply(const QByteArray&, const QByteArray& firmwareReply)
{
    ++m_replies;
    if (m_input.atEnd())
        return firmwareReply;

    QByteArray reply = firmwareReply;
    const int choice = m_input.next() % 8;
    switch (choice) {
    case 0:
        return reply;
    case 1:
        reply.clear();
        break;
    case 2:
        reply.truncate(m_input.next() % (reply.size() + 1));
        break;
    case 3:
        if (!reply.isEmpty()) {
            const int index = m_input.next() % reply.size();
            reply[index] = char(m_input.next());
        }
        break;
    case 4:
        reply.append(m_input.take(m_input.next() % MostAppendedBytes));
        break;
    case 5:
        reply = m_input.take(m_input.next() % LongestScriptedReply);
        break;
    case 6:
        if (!reply.isEmpty())
            reply[0] = char(m_input.next());
        break;
    case 7: {
        const char mask = char(m_input.next());
        for (char& byte : reply)
            byte = char(byte ^ mask);
        break;
    }
    }
    ++m_damaged;
    return reply;
}

} // namespace halvorn::fuzz
