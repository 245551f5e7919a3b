#pragma once

#include <QByteArray>

#include <atomic>

namespace halvorn::fuzz {

class ByteReader;

// The dongle's replies, chosen by the fuzzer. For each request the firmware
// has answered, the next input byte says what the host gets instead:
//
//   b % 8 = 0  the firmware's reply, unchanged (also once the input is used up)
//           1  no reply: the host's read times out
//           2  the reply cut to (next byte) % (length + 1) bytes
//           3  one byte of the reply (index: next byte) replaced by the next byte
//           4  the reply with (next byte) % 8 input bytes appended
//           5  a reply made of input bytes only: length (next byte) % 72, then
//              the bytes (longer than 64 overflows the host's buffer)
//           6  the reply with its first byte (the code) replaced by the next byte
//           7  the reply with every byte XOR the next byte
//
// Starting from the firmware's own answer keeps the tool on its deep paths
// (searches that find gear, parameter lists that go on) while any single
// reply can be damaged in every way a misbehaving dongle damages it.
class ReplyScript
{
public:
    explicit ReplyScript(ByteReader& input);

    QByteArray reply(const QByteArray& request, const QByteArray& firmwareReply);

    int replies() const { return m_replies.load(); }
    int damaged() const { return m_damaged.load(); }

private:
    ByteReader& m_input;
    std::atomic<int> m_replies{0};
    std::atomic<int> m_damaged{0};
};

} // namespace halvorn::fuzz
