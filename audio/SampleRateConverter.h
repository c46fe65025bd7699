#pragma once
// Polyphase windowed-sinc converter for interleaved 16-bit PCM between a
// device rate and a codec or clip rate, with 1 <-> 2 channel conversion in
// the same pass. Ratios come from a table of rate pairs (or whole multiples);
// coefficients are Q16 integers; state persists between calls, so input may
// arrive in any pieces and the output stream is the same. Output leaves in
// whole chunks of 2 x param values.
//
// One owner thread per object; no allocation after Init.
#include <cstdint>
#include <memory>

class CSampleRateConverter {
public:
    CSampleRateConverter() = default;
    CSampleRateConverter(const CSampleRateConverter&) = delete;
    CSampleRateConverter& operator=(const CSampleRateConverter&) = delete;

    // 1 when the pair is supported and the filter was built; 0 otherwise
    // (unknown ratio, channel count other than 1 or 2, rate <= 0, a size
    // parameter too small for a filter, or no memory).
    int Init(int inRate, int inChannels, int outRate, int outChannels, int param);
    // Output bytes written; *consumed receives the input bytes used.
    int Convert(const int16_t* in, int inBytes, int* consumed, int16_t* out, int outRoom);
    int GetOutputLength(int inBytes) const;
    int GetInputLength(int outBytes) const;

    // For tests and benchmarks.
    int GetL() const { return m_L; }
    int GetM() const { return m_M; }
    int GetTaps() const { return m_taps; }
    bool IsResampling() const { return m_resampling; }
    double GetGain() const { return m_gain; }
    double GetCutoff() const { return m_cutoff; }
    int32_t GetCoefficient(int phase, int tap) const { return m_coef[phase * m_taps + tap]; }
    int GetChunkBytes() const;  // output bytes of one whole chunk

    // The table row for a pair: L, M and alpha; 0 when none.
    static int LookupRatio(int inRate, int outRate, int* L, int* M, int* alpha);

private:
    bool Filter();  // true: a chunk completed; false: input short (buffer compacted)
    int StoreInput(const int16_t* in, int samples);  // samples taken

    int m_param = 0;
    int m_inChannels = 1;
    int m_outChannels = 1;
    bool m_stereoFilter = false;
    bool m_resampling = false;
    int m_L = 1;
    int m_M = 1;
    double m_inRate = 0;
    double m_alpha = 0;
    double m_cutoff = 0;
    // Headroom for the filter's overshoot on full-scale input.
    static constexpr double kGain = 0.89;
    double m_gain = kGain;
    int m_taps = 0;
    int m_history = 0;
    int m_chunk = 0;  // values per output chunk
    int m_base = 0;
    int m_phase = 0;
    int m_outIndex = 0;
    int m_inCount = 0;
    int m_inCapacity = 0;  // values
    std::unique_ptr<int32_t[]> m_area;
    int32_t* m_in = nullptr;
    int32_t* m_out = nullptr;
    int32_t* m_coef = nullptr;
};
