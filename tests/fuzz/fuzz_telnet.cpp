// Feeds arbitrary server bytes to the RFC 2217 client, whole and in chunks
// of random size: the data that come out and the answers it gives must not
// depend on where the reads were cut, data never outgrow what came in, and
// every answer is a whole Telnet command (IAC first). Answers beyond a
// read's reply buffer are dropped (a server flooding negotiation), so they
// are compared only where none was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "link/rfc2217.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

struct Run {
    std::vector<uint8_t> data;
    std::vector<uint8_t> answers;
    bool full = false;
};

void feed(Rfc2217Client& client, const uint8_t* in, int count, Run* run) {
    std::vector<uint8_t> out(static_cast<size_t>(count) + 1);
    TelnetReply reply;
    int got = client.receive(in, count, out.data(), &reply);
    check(got >= 0 && got <= count);
    check(reply.length >= 0 && reply.length <= static_cast<int>(sizeof reply.bytes));
    check(reply.length == 0 || reply.bytes[0] == TELNET_IAC);
    run->data.insert(run->data.end(), out.begin(), out.begin() + got);
    run->answers.insert(run->answers.end(), reply.bytes, reply.bytes + reply.length);
    run->full = run->full || reply.full;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    uint32_t seed = data[0] * 2654435761u + static_cast<uint32_t>(size);
    const uint8_t* in = data + 1;
    const int length = static_cast<int>(size - 1);

    TelnetReply opening;
    Rfc2217Client whole;
    whole.start(9600, &opening);
    Run all;
    feed(whole, in, length, &all);

    Rfc2217Client cut;
    cut.start(9600, &opening);
    Run chunked;
    for (int offset = 0; offset < length;) {
        seed = seed * 1664525u + 1013904223u;
        int chunk = static_cast<int>((seed >> 24) % 9);
        if (chunk > length - offset) chunk = length - offset;
        feed(cut, in + offset, chunk, &chunked);
        offset += chunk;
    }
    check(all.data == chunked.data);
    if (!all.full && !chunked.full) check(all.answers == chunked.answers);
    return 0;
}
