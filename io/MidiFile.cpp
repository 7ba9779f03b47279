#include "io/MidiFile.h"

#include <algorithm>
#include <fstream>

namespace kelvatone::io {
namespace {

constexpr uint32_t kHeaderMinimumLength = 6;
constexpr uint32_t kDefaultMicrosecondsPerQuarter = 500000; // 120 beats per minute
constexpr int kMaxVarLenBytes = 4;
constexpr uint8_t kMetaEvent = 0xFF;
constexpr uint8_t kSysExStart = 0xF0;
constexpr uint8_t kSysExContinuation = 0xF7;
constexpr uint8_t kMetaEndOfTrack = 0x2F;
constexpr uint8_t kMetaTempo = 0x51;
constexpr uint8_t kProgramChange = 0xC0;
constexpr uint8_t kChannelPressure = 0xD0;
constexpr uint16_t kSmpteDivisionBit = 0x8000;
// A MIDI file is read whole into memory; larger ones are not note data.
constexpr std::streamoff kMaxFileBytes = 64 << 20;

// Reads big-endian fields from a byte range; every read checks the range first.
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    size_t position() const { return position_; }
    size_t remaining() const { return size_ - position_; }
    bool atEnd() const { return position_ >= size_; }

    bool readByte(uint8_t& out) {
        if (atEnd()) {
            return false;
        }
        out = data_[position_++];
        return true;
    }
    bool peekByte(uint8_t& out) const {
        if (atEnd()) {
            return false;
        }
        out = data_[position_];
        return true;
    }
    bool readBigEndian(int bytes, uint32_t& out) {
        if (remaining() < static_cast<size_t>(bytes)) {
            return false;
        }
        out = 0;
        for (int i = 0; i < bytes; ++i) {
            out = (out << 8) | data_[position_++];
        }
        return true;
    }
    // A variable-length quantity: at most four bytes of seven bits each.
    bool readVarLen(uint32_t& out) {
        out = 0;
        for (int i = 0; i < kMaxVarLenBytes; ++i) {
            uint8_t byte = 0;
            if (!readByte(byte)) {
                return false;
            }
            out = (out << 7) | (byte & 0x7Fu);
            if ((byte & 0x80u) == 0) {
                return true;
            }
        }
        return false;
    }
    bool skip(size_t bytes) {
        if (remaining() < bytes) {
            return false;
        }
        position_ += bytes;
        return true;
    }
    bool matchTag(const char* tag) {
        if (remaining() < 4 || !std::equal(tag, tag + 4, data_ + position_)) {
            return false;
        }
        position_ += 4;
        return true;
    }
    ByteReader sub(size_t bytes) const { return ByteReader(data_ + position_, bytes); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

struct TickedNote {
    uint64_t tick;
    MidiNoteEvent event;
};

struct TempoChange {
    uint64_t tick;
    uint32_t microsecondsPerQuarter;
};

int dataByteCount(uint8_t status) {
    const uint8_t kind = status & 0xF0u;
    return (kind == kProgramChange || kind == kChannelPressure) ? 1 : 2;
}

// Parses one MTrk chunk's events; note events and tempo changes are appended.
bool parseTrack(ByteReader track, int trackIndex, std::vector<TickedNote>& notes,
                std::vector<TempoChange>& tempos, std::string& error) {
    const std::string where = "track " + std::to_string(trackIndex) + ": ";
    uint64_t tick = 0;
    uint8_t runningStatus = 0;
    while (!track.atEnd()) {
        uint32_t delta = 0;
        uint8_t lead = 0;
        if (!track.readVarLen(delta) || !track.peekByte(lead)) {
            error = where + "event cut off or bad delta time at byte " +
                    std::to_string(track.position());
            return false;
        }
        tick += delta;
        if (lead == kMetaEvent) {
            uint8_t type = 0;
            uint32_t length = 0;
            track.skip(1);
            if (!track.readByte(type) || !track.readVarLen(length) || length > track.remaining()) {
                error = where + "meta event runs past the end of the track";
                return false;
            }
            if (type == kMetaEndOfTrack) {
                return true;
            }
            if (type == kMetaTempo && length == 3) {
                uint32_t tempo = 0;
                track.readBigEndian(3, tempo);
                if (tempo == 0) {
                    error = where + "tempo of zero microseconds per quarter note";
                    return false;
                }
                tempos.push_back({tick, tempo});
            } else {
                track.skip(length);
            }
            runningStatus = 0;
            continue;
        }
        if (lead == kSysExStart || lead == kSysExContinuation) {
            uint32_t length = 0;
            track.skip(1);
            if (!track.readVarLen(length) || !track.skip(length)) {
                error = where + "system exclusive event runs past the end of the track";
                return false;
            }
            runningStatus = 0;
            continue;
        }
        uint8_t status = runningStatus;
        if (lead & 0x80u) {
            track.skip(1);
            if (lead >= kSysExStart) {
                error = where + "status byte " + std::to_string(lead) + " is not allowed in a file";
                return false;
            }
            status = runningStatus = lead;
        } else if (runningStatus == 0) {
            error = where + "data byte without a status (running status not established)";
            return false;
        }
        uint8_t data[2] = {0, 0};
        for (int i = 0; i < dataByteCount(status); ++i) {
            if (!track.readByte(data[i]) || (data[i] & 0x80u) != 0) {
                error = where + "channel message cut off or with a bad data byte";
                return false;
            }
        }
        const uint8_t kind = status & 0xF0u;
        if (kind == kNoteOn || kind == kNoteOff) {
            notes.push_back({tick, MidiNoteEvent{0.0, status, data[0], data[1]}});
        }
    }
    // A track that ends without its end-of-track event but on an event boundary is
    // accepted; nothing was lost.
    return true;
}

// Seconds per tick under SMPTE timing; false for frame rates the format lacks.
bool smpteSecondsPerTick(uint16_t division, double& secondsPerTick) {
    const int framesPerSecond = -static_cast<int8_t>(division >> 8);
    const int ticksPerFrame = division & 0xFF;
    const bool knownRate = framesPerSecond == 24 || framesPerSecond == 25 ||
                           framesPerSecond == 29 || framesPerSecond == 30;
    if (!knownRate || ticksPerFrame == 0) {
        return false;
    }
    // "29" is the 29.97 frames per second drop-frame rate.
    const double rate = framesPerSecond == 29 ? 30000.0 / 1001.0 : framesPerSecond;
    secondsPerTick = 1.0 / (rate * ticksPerFrame);
    return true;
}

// Converts ticks to seconds through the tempo map; `notes` is sorted by tick.
void assignSeconds(std::vector<TickedNote>& notes, std::vector<TempoChange>& tempos,
                   uint16_t ticksPerQuarter) {
    std::stable_sort(tempos.begin(), tempos.end(),
                     [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
    double secondsAtSegment = 0.0;
    uint64_t segmentTick = 0;
    double secondsPerTick = kDefaultMicrosecondsPerQuarter * 1e-6 / ticksPerQuarter;
    size_t nextTempo = 0;
    for (TickedNote& note : notes) {
        while (nextTempo < tempos.size() && tempos[nextTempo].tick <= note.tick) {
            secondsAtSegment +=
                static_cast<double>(tempos[nextTempo].tick - segmentTick) * secondsPerTick;
            segmentTick = tempos[nextTempo].tick;
            secondsPerTick = tempos[nextTempo].microsecondsPerQuarter * 1e-6 / ticksPerQuarter;
            ++nextTempo;
        }
        note.event.seconds =
            secondsAtSegment + static_cast<double>(note.tick - segmentTick) * secondsPerTick;
    }
}

} // namespace

bool parseMidiFile(const uint8_t* data, size_t size, MidiFileContents& contents,
                   std::string& error) {
    ByteReader file(data, size);
    uint32_t headerLength = 0, format = 0, trackCount = 0, division = 0;
    if (!file.matchTag("MThd")) {
        error = "not a Standard MIDI File (no MThd header)";
        return false;
    }
    if (!file.readBigEndian(4, headerLength) || headerLength < kHeaderMinimumLength ||
        headerLength > file.remaining() || !file.readBigEndian(2, format) ||
        !file.readBigEndian(2, trackCount) || !file.readBigEndian(2, division)) {
        error = "truncated or malformed MThd header";
        return false;
    }
    file.skip(headerLength - kHeaderMinimumLength);
    if (format > 1) {
        error = "MIDI file format " + std::to_string(format) + " is not supported (only 0 and 1)";
        return false;
    }
    if (format == 0 && trackCount != 1) {
        error =
            "format 0 MIDI file announces " + std::to_string(trackCount) + " tracks instead of 1";
        return false;
    }
    double smpteTick = 0.0;
    const bool smpte = (division & kSmpteDivisionBit) != 0;
    if (smpte ? !smpteSecondsPerTick(static_cast<uint16_t>(division), smpteTick) : division == 0) {
        error = "bad timing division " + std::to_string(division) + " in the MThd header";
        return false;
    }

    std::vector<TickedNote> notes;
    std::vector<TempoChange> tempos;
    uint32_t tracksRead = 0;
    while (tracksRead < trackCount && !file.atEnd()) {
        const bool isTrack = file.matchTag("MTrk");
        uint32_t length = 0;
        if ((!isTrack && !file.skip(4)) || !file.readBigEndian(4, length) ||
            length > file.remaining()) {
            error = "chunk runs past the end of the file";
            return false;
        }
        if (isTrack &&
            !parseTrack(file.sub(length), static_cast<int>(tracksRead), notes, tempos, error)) {
            return false;
        }
        file.skip(length);
        tracksRead += isTrack ? 1 : 0;
    }
    if (tracksRead < trackCount) {
        error = "truncated: the header announces " + std::to_string(trackCount) +
                " tracks, the file holds " + std::to_string(tracksRead);
        return false;
    }

    std::stable_sort(notes.begin(), notes.end(),
                     [](const TickedNote& a, const TickedNote& b) { return a.tick < b.tick; });
    if (smpte) {
        for (TickedNote& note : notes) {
            note.event.seconds = static_cast<double>(note.tick) * smpteTick;
        }
    } else {
        assignSeconds(notes, tempos, static_cast<uint16_t>(division));
    }
    contents.format = static_cast<int>(format);
    contents.trackCount = static_cast<int>(trackCount);
    contents.division = static_cast<uint16_t>(division);
    contents.notes.clear();
    contents.notes.reserve(notes.size());
    for (const TickedNote& note : notes) {
        contents.notes.push_back(note.event);
    }
    return true;
}

bool readMidiFile(const std::string& path, MidiFileContents& contents, std::string& error) {
    std::ifstream stream(path, std::ios::binary | std::ios::ate);
    if (!stream) {
        error = path + ": cannot open the MIDI file";
        return false;
    }
    const std::streamoff size = stream.tellg();
    if (size < 0 || size > kMaxFileBytes) {
        error = path + ": not a MIDI file of a plausible size";
        return false;
    }
    stream.seekg(0);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (!stream.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size))) {
        error = path + ": cannot read the MIDI file";
        return false;
    }
    if (!parseMidiFile(bytes.data(), bytes.size(), contents, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

namespace {

constexpr int kWrittenTicksPerQuarter = 480;
constexpr int kWrittenMicrosecondsPerQuarter = 500000; // 120 beats per minute
constexpr double kWrittenTicksPerSecond =
    kWrittenTicksPerQuarter * 1e6 / kWrittenMicrosecondsPerQuarter;

void appendVariableLength(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[5];
    int count = 0;
    do {
        bytes[count++] = value & 0x7F;
        value >>= 7;
    } while (value != 0);
    while (count > 1)
        out.push_back(bytes[--count] | 0x80);
    out.push_back(bytes[0]);
}

void appendBigEndian(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint32_t writtenTicksAt(double seconds) {
    return static_cast<uint32_t>(std::max(seconds, 0.0) * kWrittenTicksPerSecond + 0.5);
}

} // namespace

std::vector<uint8_t> encodeMidiFile(const std::vector<MidiNoteEvent>& events) {
    struct Timed {
        uint32_t tick;
        MidiNoteEvent event;
    };
    std::vector<Timed> timed;
    timed.reserve(events.size());
    for (const MidiNoteEvent& event : events)
        timed.push_back({writtenTicksAt(event.seconds), event});
    std::stable_sort(timed.begin(), timed.end(), [](const Timed& a, const Timed& b) {
        return a.tick != b.tick ? a.tick < b.tick : a.event.status < b.event.status;
    });

    std::vector<uint8_t> track;
    appendVariableLength(track, 0);
    track.insert(track.end(), {0xFF, 0x51, 0x03});
    appendBigEndian(track, kWrittenMicrosecondsPerQuarter, 3);
    uint32_t previous = 0;
    for (const Timed& t : timed) {
        appendVariableLength(track, t.tick - previous);
        previous = t.tick;
        track.insert(track.end(), {t.event.status, t.event.note, t.event.velocity});
    }
    appendVariableLength(track, 0);
    track.insert(track.end(), {0xFF, 0x2F, 0x00});

    std::vector<uint8_t> file = {'M', 'T', 'h', 'd'};
    appendBigEndian(file, 6, 4);
    appendBigEndian(file, 0, 2); // format 0
    appendBigEndian(file, 1, 2); // one track
    appendBigEndian(file, kWrittenTicksPerQuarter, 2);
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    appendBigEndian(file, static_cast<uint32_t>(track.size()), 4);
    file.insert(file.end(), track.begin(), track.end());
    return file;
}

} // namespace kelvatone::io
