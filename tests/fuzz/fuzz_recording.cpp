// libFuzzer target for the two readers of a recording of the serial line:
// the program's (link/line_recording) and the simulator's own
// (tools/sim/replay_file), kept apart so that each checks the other. Fed the
// same bytes, they must take or refuse the file alike, find the same
// packets from the device with the same spacing, and agree on whether the
// last packet is cut off.
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/line_recording.h"
#include "tests/fuzz/scratch_directory.h"
#include "tools/sim/replay_file.h"

namespace {

using fuzz::check;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RecordingContents contents;
    RecordingReadResult result = readRecording(data, size, &contents);
    sim::ReplayFile replay;
    std::string error;
    int replayed = sim::parseReplay(data, size, replay, error);
    check((result.error == RECORDING_OK) == (replayed == 1));
    if (replayed != 1) {
        check(!result.text.empty() && !error.empty());
        return 0;
    }
    check(contents.truncatedLastPacket == !replay.warning.empty());
    // The simulator plays offsets from the first device packet and never
    // runs backwards in time.
    size_t played = 0;
    int64_t firstUs = -1;
    int64_t lastOffset = 0;
    for (const RecordedPacket& packet : contents.packets) {
        if (packet.direction != FROM_DEVICE) continue;
        check(played < replay.packets.size());
        const sim::ReplayPacket& other = replay.packets[played++];
        check(other.bytes == packet.bytes);
        if (firstUs < 0) firstUs = packet.timeUs;
        int64_t offset = packet.timeUs - firstUs;
        lastOffset = offset > lastOffset ? offset : lastOffset;
        check(other.offsetUs == lastOffset);
    }
    check(played == replay.packets.size());
    return 0;
}
