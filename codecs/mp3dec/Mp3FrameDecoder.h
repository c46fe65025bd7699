// Decodes the complete Layer III frame at the input ring's read position:
// CRC, side information, bit reservoir, scale factors, Huffman data,
// requantisation, joint stereo, reordering, alias reduction, then concealment
// and the filter bank. Used by the thread that owns the decoder object.
#pragma once

#include <cstdint>
#include <memory>

#include "codecs/mp3dec/Mp3BitRing.h"
#include "codecs/mp3dec/Mp3Decoder.h"
#include "codecs/mp3dec/Mp3Hybrid.h"
#include "codecs/mp3dec/Mp3Synth.h"

class CMp3InputStream;
class CMp3Concealer;
struct Mp3Header;

struct Mp3GranuleChannel {
    int32_t part23Length;
    int32_t bigValues;
    int32_t globalGain;
    int32_t scalefacCompress;
    int32_t windowSwitching;
    int32_t blockType;
    int32_t mixed;
    int32_t tableSelect[3];
    int32_t subblockGain[3];
    int32_t region0Count;
    int32_t region1Count;
    int32_t preflag;
    int32_t scalefacScale;
    int32_t count1Table;
    // Derived by the decoder.
    int32_t nonzeroLines;
    int32_t nonzeroSubbands;
    int32_t maxLongBand;
    int32_t maxShortBand[3];
    int32_t zeroed;  // side information unusable: all-zero spectrum
};

struct Mp3HeaderCopy {
    int channels = 0;
    int sampleRateIndex = 0;
    int frameLengthBits = 0;
    int mode = 0;
    int modeExtension = 0;
    int headerBits = 32;
    int sfbRow = 0;        // index into the band tables
    int protection = 0;
    int mpeg1 = 0;
    int mpeg25At8k = 0;
    int version = 0;
};

class CMp3FrameDecoder {
public:
    CMp3FrameDecoder(CMp3InputStream& input, int rateShift, int eightBit, int forceMono);
    ~CMp3FrameDecoder();
    bool Ok() const { return m_concealer != nullptr; }

    Mp3Status DecodeFrame(void* output, uint32_t room, uint32_t* produced, bool asFloat, uint8_t* ancillary,
                          uint32_t* ancillaryLength);
    void Reset(bool full);

    // Output bytes of one frame for the given header and options.
    uint32_t OutputBytes(const Mp3Header& h, bool asFloat) const;

private:
    bool ReadSideInfo(const Mp3Header& h, uint16_t crcWord, int sideBytes);
    bool FillReservoir(int mainBytes);
    void ReadAncillary(uint32_t movedBits, uint8_t* ancillary, uint32_t* ancillaryLength);
    uint8_t* DecodeGranules(uint8_t* out, bool asFloat, bool conceal);
    uint8_t* MissingData(uint8_t* out, bool asFloat);
    void ReadScaleFactors(int gr, int ch);
    void DecodeHuffman(int ch, Mp3GranuleChannel& gc);
    void Requantize(int ch, Mp3GranuleChannel& gc);
    void StereoProcess(int gr);
    void ReorderShort(int ch, const Mp3GranuleChannel& gc);
    void AntiAlias(int ch, Mp3GranuleChannel& gc);
    void UpdateNonzero(int ch, Mp3GranuleChannel& gc);
    uint8_t* FilterAndOutput(int gr, uint8_t* out, bool asFloat, bool conceal);

    CMp3InputStream& m_input;
    const SMp3Kernels* m_kernels = &Mp3Kernels(BestVectorPath());
    int m_rateShift;
    int m_eightBit;
    int m_forceMono;
    int m_outChannels = 1;
    Mp3HeaderCopy m_h;
    const int16_t* m_sfbLong = nullptr;
    const int16_t* m_sfbShort = nullptr;

    int32_t m_mainDataBegin = 0;
    int32_t m_privateBits = 0;
    int32_t m_scfsi[2][4] = {};
    Mp3GranuleChannel m_gc[2][2] = {};
    int32_t m_scalefacLong[2][22] = {};
    int32_t m_scalefacShort[2][13][3] = {};
    int32_t m_illegalLong[2][22] = {};
    int32_t m_illegalShort[2][13] = {};
    int32_t m_intensityScale = 0;

    uint8_t m_reservoirStorage[2048] = {};
    CMp3BitRing m_reservoir;
    float m_spectrum[2][576] = {};
    int32_t m_values[576] = {};
    float m_time[2][mp3kernels::kTimeFloats] = {};  // the floats after 576 stay zero

    std::unique_ptr<CMp3Concealer> m_concealer;
    CMp3Hybrid m_hybrid;
    CMp3Synth m_synth;
};
