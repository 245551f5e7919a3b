#pragma once

#include <QByteArray>

namespace halvorn::sim {

// What the equipment on the DMX line or behind the Keymark port made of one
// command/reply frame (code 0x02). The firmware sends it back as
// 0x82, status, data length, data.
struct SimAnswer {
    enum Status : quint8 {
        Answered = 0,       // data holds the answer frame
        ReceptionError = 3, // an answer arrived but did not decode (several devices at once)
        NoAnswer = 5        // nothing came back within the firmware's window
    };

    quint8 status = NoAnswer;
    QByteArray data;

    static SimAnswer answered(const QByteArray& frame) { return {Answered, frame}; }
    static SimAnswer receptionError(const QByteArray& garbled = {}) { return {ReceptionError, garbled}; }
    static SimAnswer none() { return {NoAnswer, {}}; }
};

} // namespace halvorn::sim
