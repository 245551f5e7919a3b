#pragma once

#include <QtGlobal>

#include <array>
#include <optional>

namespace halvorn::vx {

// Decoding of an ANSI E1.20 discovery response, the answer to
// DISC_UNIQUE_BRANCH. It is not an RDM message: up to seven (the tool
// accepts eight) preamble bytes 0xFE, the separator 0xAA, the UID as 12
// encoded bytes (each UID byte b as the pair b | 0xAA, b | 0x55), and the
// 16-bit sum of those 12 bytes encoded the same way, high byte first.
// Several responders answering at once overlay their bytes, which breaks
// the preamble, the pairs or the checksum: a response that decodes names
// exactly one responder.
//
// Every read is checked against the answer's length first.
class RDMDiscoveryResponse
{
public:
    static constexpr quint8 Preamble = 0xFE;
    static constexpr quint8 Separator = 0xAA;
    static constexpr int MaxSeparatorIndex = 8;
    static constexpr int EncodedUidLength = 12;
    static constexpr int EncodedChecksumLength = 4;

    struct Result {
        std::optional<quint64> uid;          // set when the response decoded
        std::array<quint8, 4> expectedChecksum{};
        std::array<quint8, 4> receivedChecksum{};
        bool checksumCompared = false;       // the two checksums above are meaningful
    };

    static Result decode(const quint8* answer, int length);
};

} // namespace halvorn::vx
