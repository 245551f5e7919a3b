// The RDM discovery-response decoder on arbitrary bytes, plus two properties
// checked on a response built from the input: a correctly encoded response
// decodes to its UID, and any single damaged byte of its encoded UID or
// checksum is refused.
#include "vx/rdmdiscoveryresponse.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

using halvorn::vx::RDMDiscoveryResponse;

namespace {

void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_rdmdiscovery: %s\n", what);
    std::abort();
}

// E1.20: each UID byte b travels as b | 0xAA, b | 0x55; the checksum is the
// 16-bit sum of those twelve bytes, encoded the same way, high byte first.
std::vector<uint8_t> encodeResponse(uint64_t uid, int preambleBytes)
{
    std::vector<uint8_t> response(size_t(preambleBytes), 0xFE);
    response.push_back(0xAA);
    uint16_t sum = 0;
    for (int shift = 40; shift >= 0; shift -= 8) {
        const auto byte = uint8_t(uid >> shift);
        for (const uint8_t encoded : {uint8_t(byte | 0xAA), uint8_t(byte | 0x55)}) {
            response.push_back(encoded);
            sum = uint16_t(sum + encoded);
        }
    }
    for (const uint8_t byte : {uint8_t(sum >> 8), uint8_t(sum & 0xFF)}) {
        response.push_back(uint8_t(byte | 0xAA));
        response.push_back(uint8_t(byte | 0x55));
    }
    return response;
}

void checkDecodesArbitraryBytes(const uint8_t* data, size_t size)
{
    const auto result = RDMDiscoveryResponse::decode(data, int(size));
    if (result.uid && !(result.checksumCompared && result.expectedChecksum == result.receivedChecksum))
        fail("a UID came out of a response whose checksum did not match");
    if (result.uid && *result.uid >> 48)
        fail("a UID wider than 48 bits");
}

void checkEncodedResponse(const uint8_t* data, size_t size)
{
    if (size < 9)
        return;
    uint64_t uid = 0;
    for (int i = 0; i < 6; ++i)
        uid = uid << 8 | data[i];
    const int preamble = data[6] % 8; // E1.20 allows 0..7 preamble bytes
    std::vector<uint8_t> response = encodeResponse(uid, preamble);

    const auto clean = RDMDiscoveryResponse::decode(response.data(), int(response.size()));
    if (!clean.uid || *clean.uid != uid)
        fail("a correctly encoded response did not decode to its UID");

    const uint8_t mask = data[8];
    if (mask == 0)
        return;
    const size_t encodedStart = size_t(preamble) + 1;
    const size_t damagedIndex = encodedStart + data[7] % 16;
    response[damagedIndex] ^= mask;
    const auto damaged = RDMDiscoveryResponse::decode(response.data(), int(response.size()));
    if (damaged.uid)
        fail("a response with one damaged byte was accepted");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    checkDecodesArbitraryBytes(data, size);
    checkEncodedResponse(data, size);
    return 0;
}
