#include "wave/wave_output.h"

namespace wave {

bool FitsWaveSizeFields(std::uint64_t samples) {
    return OutputSize(samples) - kRiffPreambleSize <= UINT32_MAX && samples <= UINT32_MAX;
}

Header OutputHeader(std::uint64_t samples) {
    const std::uint64_t outputSize = OutputSize(samples);
    Header header = WaveHeaderTemplate;
    PutLE32(header, kRiffSizeOffset, static_cast<std::uint32_t>(outputSize - kRiffPreambleSize));
    PutLE32(header, kFactSampleLengthOffset, static_cast<std::uint32_t>(samples));
    PutLE32(header, kDataSizeOffset, static_cast<std::uint32_t>(outputSize - kHeaderSize));
    return header;
}

void PutBlockHeader(unsigned char* block, short opening, unsigned char stepIndex) {
    PutLE16(block, 0, static_cast<std::uint16_t>(opening));
    block[kStepIndexAt] = stepIndex;
    block[kReservedAt] = 0;
}

bool PcmFitsWaveSizeFields(std::uint64_t dataBytes) {
    return dataBytes <= UINT32_MAX - (kPcmHeaderSize - kRiffPreambleSize);
}

PcmHeader MakePcmHeader(std::uint32_t rate, std::uint32_t dataBytes) {
    PcmHeader h{};
    PutTag(h, 0, kRiffName);
    PutLE32(h, 4, static_cast<std::uint32_t>(kPcmHeaderSize - kRiffPreambleSize) + dataBytes);
    PutTag(h, 8, kWaveName);
    PutTag(h, 12, kFormatName);
    PutLE32(h, 16, kPcmFormatSize);
    PutLE16(h, 20, kPcmTag);
    PutLE16(h, 22, kAcceptedChannels);
    PutLE32(h, 24, rate);
    PutLE32(h, 28, rate * sizeof(short));
    PutLE16(h, 32, sizeof(short));
    PutLE16(h, 34, kAcceptedBitsPerSample);
    PutTag(h, 36, kDataName);
    PutLE32(h, 40, dataBytes);
    return h;
}

}  // namespace wave
