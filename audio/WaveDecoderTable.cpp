#include "audio/WaveDecoderTable.h"

#include "audio/G711WaveDecoder.h"
#include "audio/ImaAdpcmDecoder.h"
#include "audio/MsAdpcmDecoder.h"
#include "audio/PcmWaveDecoder.h"
#include "common/ByteOrder.h"

namespace {

constexpr int kExtensible = 0xFFFE;

template <class TDecoder>
std::unique_ptr<CWaveDecoder> Make(const WaveFormatInfo& format) {
    if (!TDecoder::Accepts(format)) return nullptr;
    return std::make_unique<TDecoder>(format);
}

template <bool ALaw>
std::unique_ptr<CWaveDecoder> MakeG711(const WaveFormatInfo& format) {
    if (!CG711WaveDecoder::Accepts(format)) return nullptr;
    return std::make_unique<CG711WaveDecoder>(format, ALaw);
}

constexpr WaveDecoderRow kRows[] = {
    {0x0001, "PCM", Make<CPcmWaveDecoder>},
    {0x0002, "Microsoft ADPCM", Make<CMsAdpcmDecoder>},
    {0x0006, "A-law", MakeG711<true>},
    {0x0007, "mu-law", MakeG711<false>},
    {0x0011, "IMA ADPCM", Make<CImaAdpcmDecoder>},
};

}  // namespace

const WaveDecoderRow* FindWaveDecoder(int formatTag) {
    for (const WaveDecoderRow& row : kRows) {
        if (row.formatTag == formatTag) return &row;
    }
    return nullptr;
}

int ResolveWaveFormatTag(const WaveFormatInfo& format) {
    // The extensible header's extra bytes: valid bits, channel mask, then the sub-format GUID.
    if (format.formatTag == kExtensible && format.extra != nullptr && format.extraBytes >= 22) {
        return GetLe16(format.extra + 6);
    }
    return format.formatTag;
}
