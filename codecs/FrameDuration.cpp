#include "codecs/FrameDuration.h"

#include "codecs/CodingTable.h"

uint32_t GetFrameDurationMs(const AudioFormat& format) {
    const CodingDescriptor* row = FindCoding(format.codingType);
    return row && row->frameDurationMs ? row->frameDurationMs(format) : 0;
}
