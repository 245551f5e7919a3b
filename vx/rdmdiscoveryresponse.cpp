#include "vx/rdmdiscoveryresponse.h"

namespace halvorn::vx {

namespace {

std::array<quint8, 4> encodedChecksum(quint16 sum)
{
    const auto high = quint8(sum >> 8);
    const auto low = quint8(sum & 0xFF);
    return {quint8(high | 0xAA), quint8(high | 0x55), quint8(low | 0xAA), quint8(low | 0x55)};
}

} // namespace

RDMDiscoveryResponse::Result RDMDiscoveryResponse::decode(const quint8* answer, int length)
{
    Result result;
    if (!answer || length <= 0)
        return result;

    int separator = -1;
    for (int i = 0; i < length && i <= MaxSeparatorIndex; ++i) {
        if (answer[i] == Separator) {
            separator = i;
            break;
        }
        if (answer[i] != Preamble)
            return result;
    }
    if (separator < 0)
        return result;

    const int uidStart = separator + 1;
    if (length < uidStart + EncodedUidLength + EncodedChecksumLength)
        return result;
    const quint8* encoded = answer + uidStart;

    quint64 uid = 0;
    quint16 sum = 0;
    for (int k = 0; k < 6; ++k) {
        const quint8 first = encoded[2 * k];
        const quint8 second = encoded[2 * k + 1];
        const auto byte = quint8(quint8(second - 0x55) | quint8(first + 0x56));
        uid = (uid << 8) | byte;
        sum = quint16(sum + first + second);
    }

    result.expectedChecksum = encodedChecksum(sum);
    for (int i = 0; i < EncodedChecksumLength; ++i)
        result.receivedChecksum[size_t(i)] = encoded[EncodedUidLength + i];
    result.checksumCompared = true;
    if (result.expectedChecksum == result.receivedChecksum)
        result.uid = uid;
    return result;
}

} // namespace halvorn::vx
