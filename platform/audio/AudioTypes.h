#pragma once
// Types shared by the audio file-stream parser, the output queue and the streaming engine.
// Statuses are 32-bit, 0 for success, otherwise a four-character code.

#include <array>
#include <cstdint>
#include <string>

namespace audio {

using OSStatus = int32_t;
constexpr OSStatus noErr = 0;

// 'abcd' as a 32-bit code, first character in the high byte.
constexpr uint32_t fourCC(const char (&text)[5]) {
    return (uint32_t(uint8_t(text[0])) << 24) | (uint32_t(uint8_t(text[1])) << 16) |
           (uint32_t(uint8_t(text[2])) << 8) | uint32_t(uint8_t(text[3]));
}

// "'redy'" style text of a code, for log lines.
std::string fourCCText(uint32_t code);

// The 40-byte stream description.
struct AudioStreamBasicDescription {
    double mSampleRate;
    uint32_t mFormatID;
    uint32_t mFormatFlags;
    uint32_t mBytesPerPacket;
    uint32_t mFramesPerPacket;
    uint32_t mBytesPerFrame;
    uint32_t mChannelsPerFrame;
    uint32_t mBitsPerChannel;
    uint32_t mReserved;
};
static_assert(sizeof(AudioStreamBasicDescription) == 40);

// Where a variable-size packet lies in the bytes handed over with it.
struct AudioStreamPacketDescription {
    int64_t mStartOffset;
    uint32_t mVariableFramesInPacket;
    uint32_t mDataByteSize;
};
static_assert(sizeof(AudioStreamPacketDescription) == 16);

// One item of the format list: a description and a channel layout tag; 44 bytes.
#pragma pack(push, 4)
struct AudioFormatListItem {
    AudioStreamBasicDescription mASBD;
    uint32_t mChannelLayoutTag;
};
#pragma pack(pop)
static_assert(sizeof(AudioFormatListItem) == 44);

// Format ids.
constexpr uint32_t kAudioFormatLinearPCM = fourCC("lpcm");
constexpr uint32_t kAudioFormatMPEGLayer3 = fourCC(".mp3");
constexpr uint32_t kAudioFormatMPEG4AAC = fourCC("aac ");
constexpr uint32_t kAudioFormatMPEG4AAC_HE = fourCC("aach");
constexpr uint32_t kAudioFormatMPEG4AAC_HE_V2 = fourCC("aacp");
constexpr uint32_t kAudioFormatAppleLossless = fourCC("alac");
constexpr uint32_t kAudioFormatFLAC = fourCC("flac");
constexpr uint32_t kAudioFormatOpus = fourCC("opus");
constexpr uint32_t kAudioFormatVorbis = fourCC("vorb");

// Linear PCM format flags.
constexpr uint32_t kAudioFormatFlagIsFloat = 1u << 0;
constexpr uint32_t kAudioFormatFlagIsBigEndian = 1u << 1;
constexpr uint32_t kAudioFormatFlagIsSignedInteger = 1u << 2;
constexpr uint32_t kAudioFormatFlagIsPacked = 1u << 3;
constexpr uint32_t kAudioFormatFlagIsNonInterleaved = 1u << 5;

// MPEG-4 audio's sampling frequencies by their 4-bit index, as ADTS headers and the
// AudioSpecificConfig write them. Indexes 13 and 14 are reserved; 15 means the rate follows in
// full.
inline constexpr std::array<uint32_t, 13> kMPEG4AudioSampleRates = {
    96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};

struct AudioTimeStamp {
    double mSampleTime = 0;
    uint64_t mHostTime = 0;
    double mRateScalar = 0;
    uint64_t mWordClockTime = 0;
    uint32_t mFlags = 0;
};

}  // namespace audio
