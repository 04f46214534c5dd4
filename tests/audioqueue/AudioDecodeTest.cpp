// What comes out of the queue matches ffmpeg's own decode of the same material: bit for bit for
// PCM, and for the lossy formats after lining up the encoder delay.

#include <gtest/gtest.h>

#include <cstring>

#include "AudioMaterial.h"
#include "QueueTestClient.h"
#include "platform/audio/parser/EsDescriptor.h"
#include "platform/audio/queue/FFmpegHandles.h"

namespace queuetest {
namespace {

using namespace audio;

// Lossy decodes run through the same libavcodec decoder as the ffmpeg command line; only the
// framing around them differs (ffmpeg drops the MP3 encoder delay and the Xing frame), so once
// lined up the samples agree exactly.
constexpr double kLossyTolerance = 0;

struct PcmCase {
    const char* ffmpegFormat;
    uint32_t bytes;
    uint32_t flags;
    int channels;
    int rate;
};

std::vector<uint8_t> encodePcm(const PcmCase& c, size_t frames) {
    const bool isFloat = c.flags & kAudioFormatFlagIsFloat;
    const bool big = c.flags & kAudioFormatFlagIsBigEndian;
    const bool isSigned = c.flags & kAudioFormatFlagIsSignedInteger;
    const int bits = int(c.bytes * 8);
    const auto samples = signalSamples(frames, c.channels, isFloat ? 24 : bits);
    std::vector<uint8_t> out;
    for (int64_t s : samples) {
        uint8_t raw[8];
        if (isFloat && c.bytes == 4) {
            const float f = float(double(s) / 8388608.0);
            std::memcpy(raw, &f, 4);
        } else if (isFloat) {
            const double d = double(s) / 8388608.0;
            std::memcpy(raw, &d, 8);
        } else {
            uint64_t v = uint64_t(s);
            if (!isSigned) v += uint64_t(1) << (bits - 1);
            std::memcpy(raw, &v, 8);
        }
        for (uint32_t i = 0; i < c.bytes; ++i) out.push_back(raw[big ? c.bytes - 1 - i : i]);
    }
    return out;
}

// Whether libavcodec is linked whole or with only our decoders, each codec id finds the
// decoder the ffmpeg command line uses, readable through the public AVCodec fields, found again
// by name and by iteration; MP3 and AAC streams without packet boundaries get a parser.
TEST(DecoderLookup, FindsTheDecodersAndParsersTheEngineUses) {
    const std::pair<AVCodecID, const char*> expected[] = {
        {AV_CODEC_ID_MP3, "mp3float"},        {AV_CODEC_ID_AAC, "aac"},
        {AV_CODEC_ID_ALAC, "alac"},           {AV_CODEC_ID_PCM_U8, "pcm_u8"},
        {AV_CODEC_ID_PCM_S16BE, "pcm_s16be"}, {AV_CODEC_ID_PCM_U24LE, "pcm_u24le"},
        {AV_CODEC_ID_PCM_S32LE, "pcm_s32le"}, {AV_CODEC_ID_PCM_F64BE, "pcm_f64be"}};
    for (const auto& [id, name] : expected) {
        SCOPED_TRACE(name);
        const AVCodec* codec = avcodec_find_decoder(id);
        ASSERT_NE(codec, nullptr);
        EXPECT_STREQ(codec->name, name);
        EXPECT_EQ(codec->id, id);
        EXPECT_EQ(codec->type, AVMEDIA_TYPE_AUDIO);
        EXPECT_TRUE(av_codec_is_decoder(codec));
        EXPECT_EQ(avcodec_find_decoder_by_name(name), codec);
        bool iterated = false;
        void* position = nullptr;
        while (const AVCodec* c = av_codec_iterate(&position)) iterated = iterated || c == codec;
        EXPECT_TRUE(iterated);
    }
    for (AVCodecID id : {AV_CODEC_ID_MP3, AV_CODEC_ID_AAC}) {
        ffmpeg::ParserPtr parser(av_parser_init(id));
        EXPECT_NE(parser, nullptr) << avcodec_get_name(id);
    }
    EXPECT_EQ(avcodec_find_decoder_by_name("no-such-decoder"), nullptr);
}

class PcmVariants : public ::testing::TestWithParam<PcmCase> {};

// Every PCM variant comes out exactly as ffmpeg decodes it, although the 2048-byte buffers
// split frames of 3, 6 and 12 bytes between them.
TEST_P(PcmVariants, MatchFfmpegBitForBit) {
    if (!haveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
    const PcmCase c = GetParam();
    const auto bytes = encodePcm(c, 20000);
    const std::string path =
        testDir() + "/pcm-" + c.ffmpegFormat + "-" + std::to_string(c.channels) + ".raw";
    writeFile(path, bytes);
    const auto reference =
        ffmpegDecode(std::string("-f ") + c.ffmpegFormat + " -ar " + std::to_string(c.rate) +
                     " -ac " + std::to_string(c.channels) + " -i " + path);
    ASSERT_TRUE(reference);

    const auto format = pcmFormat(c.rate, uint32_t(c.channels), c.bytes, c.flags);
    const auto played = playThroughQueue(format, cutBytes(bytes, 2048), 2048);
    ASSERT_EQ(played.status, noErr);
    EXPECT_EQ(played.format, (AudioSinkFormat{c.rate, c.channels}));
    ASSERT_EQ(played.samples.size(), reference->size());
    EXPECT_EQ(std::memcmp(played.samples.data(), reference->data(), reference->size() * 4), 0);
}

constexpr uint32_t S = kAudioFormatFlagIsSignedInteger;
constexpr uint32_t B = kAudioFormatFlagIsBigEndian;
constexpr uint32_t F = kAudioFormatFlagIsFloat;

INSTANTIATE_TEST_SUITE_P(
    AllLayouts, PcmVariants,
    ::testing::Values(PcmCase{"u8", 1, 0, 1, 8000}, PcmCase{"s8", 1, S, 2, 22050},
                      PcmCase{"s16le", 2, S, 2, 44100}, PcmCase{"s16be", 2, S | B, 1, 48000},
                      PcmCase{"s24le", 3, S, 2, 44100}, PcmCase{"s24be", 3, S | B, 2, 96000},
                      PcmCase{"s32le", 4, S, 2, 44100}, PcmCase{"s32be", 4, S | B, 1, 32000},
                      PcmCase{"f32le", 4, F, 2, 44100}, PcmCase{"f32be", 4, F | B, 2, 48000},
                      PcmCase{"f64le", 8, F, 2, 44100}, PcmCase{"f64be", 8, F | B, 1, 16000}),
    [](const auto& info) {
        return std::string(info.param.ffmpegFormat) + "_" + std::to_string(info.param.channels) +
               "ch";
    });

void expectMatches(const Played& played, const std::vector<float>& reference, int channels,
                   long maxShift) {
    ASSERT_EQ(played.status, noErr);
    ASSERT_EQ(played.format.channels, channels);
    const auto alignment = align(played.samples, reference, channels, maxShift);
    const size_t referenceFrames = reference.size() / size_t(channels);
    EXPECT_LE(alignment.maxError, kLossyTolerance) << "offset " << alignment.offset;
    // Everything ffmpeg plays is there.
    EXPECT_EQ(alignment.framesCompared, referenceFrames);
}

// MP3 frames with descriptions, as the parser hands them over.
TEST(LossyDecode, Mp3MatchesFfmpeg) {
    if (!haveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
    for (auto [name, args, channels, rate] :
         {std::tuple{"sweep-stereo.mp3", "-c:a libmp3lame -b:a 128k", 2, 44100},
          std::tuple{"sweep-mono-22k.mp3", "-c:a libmp3lame -b:a 48k", 1, 22050}}) {
        SCOPED_TRACE(name);
        const auto path = encodedFile(name, args, 4.0, channels, rate);
        ASSERT_FALSE(path.empty());
        const auto file = readFileBytes(path);
        const auto loads = packPackets(file, splitMp3Frames(file), 2048);
        const auto format = compressedFormat(kAudioFormatMPEGLayer3, rate, uint32_t(channels),
                                             rate >= 32000 ? 1152 : 576);
        const auto reference = ffmpegDecode("-i " + path);
        ASSERT_TRUE(reference);
        expectMatches(playThroughQueue(format, loads, 2048), *reference, channels, 4000);
    }
}

// MP3 bytes without descriptions are split into frames by the decoder's own parser.
TEST(LossyDecode, Mp3WithoutDescriptionsPlaysTheSame) {
    if (!haveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
    const auto path = encodedFile("sweep-stereo.mp3", "-c:a libmp3lame -b:a 128k", 4.0);
    const auto file = readFileBytes(path);
    const auto packets = splitMp3Frames(file);
    const auto format = compressedFormat(kAudioFormatMPEGLayer3, 44100, 2, 1152);
    const auto described = playThroughQueue(format, packPackets(file, packets, 2048), 2048);
    const std::vector<uint8_t> frames(
        file.begin() + long(packets.front().offset),
        file.begin() + long(packets.back().offset + packets.back().size));
    const auto raw = playThroughQueue(format, cutBytes(frames, 2048), 2048);
    EXPECT_EQ(raw.samples, described.samples);
}

// Damaged MP3 packets are skipped: every buffer still comes back and the rest plays.
TEST(LossyDecode, DamagedMp3PacketsAreSkipped) {
    if (!haveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
    const auto path = encodedFile("sweep-stereo.mp3", "-c:a libmp3lame -b:a 128k", 4.0);
    auto file = readFileBytes(path);
    auto packets = splitMp3Frames(file);
    uint32_t noise = 99;
    for (size_t i = 20; i < 40; ++i) {
        for (size_t b = 0; b < packets[i].size; ++b) {
            noise = noise * 1103515245u + 12345u;
            file[packets[i].offset + b] = uint8_t(noise >> 16);
        }
    }
    const auto format = compressedFormat(kAudioFormatMPEGLayer3, 44100, 2, 1152);
    const auto played = playThroughQueue(format, packPackets(file, packets, 2048), 2048);
    ASSERT_EQ(played.status, noErr);
    const size_t frames = played.samples.size() / 2;
    EXPECT_GT(frames, (packets.size() - 40) * 1152);
    EXPECT_LE(frames, packets.size() * 1152);
}

// AAC as ADTS frames, as raw frames with the cookie of an 'esds', and as raw frames with no
// cookie at all (the configuration is then built from the stream description).
TEST(LossyDecode, AacMatchesFfmpegInEveryFraming) {
    if (!haveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
    const auto path = encodedFile("sweep.aac", "-c:a aac -b:a 128k -f adts", 4.0);
    ASSERT_FALSE(path.empty());
    const auto file = readFileBytes(path);
    const auto packets = splitAdtsFrames(file);
    ASSERT_GT(packets.size(), 100u);
    const auto reference = ffmpegDecode("-i " + path);
    ASSERT_TRUE(reference);
    const auto format = compressedFormat(kAudioFormatMPEG4AAC, 44100, 2, 1024, 2);
    const size_t header = (file[1] & 1) ? 7 : 9;

    // AudioSpecificConfig from the ADTS header, wrapped as an 'esds' atom; the queue gets the
    // cookie the parser makes of it.
    const uint8_t profile = file[2] >> 6, rateIndex = (file[2] >> 2) & 15;
    const uint8_t channelConfig = uint8_t(((file[2] & 1) << 2) | (file[3] >> 6));
    const uint8_t asc0 = uint8_t(((profile + 1) << 3) | (rateIndex >> 1));
    const uint8_t asc1 = uint8_t(((rateIndex & 1) << 7) | (channelConfig << 3));
    const std::vector<uint8_t> esds = {
        0,    0, 0, 39, 'e', 's', 'd', 's', 0, 0, 0, 0, 0x03, 25, 0,    1,    0,    0x04, 17, 0x40,
        0x15, 0, 0, 0,  0,   0,   0,   0,   0, 0, 0, 0, 0x05, 2,  asc0, asc1, 0x06, 1,    2};
    const auto descriptor = audio::parsing::parseEsDescriptor(esds.data() + 8, esds.size() - 8);
    ASSERT_TRUE(descriptor);
    const std::vector<uint8_t> cookie = descriptor->decoderSpecificInfo;

    {
        SCOPED_TRACE("ADTS frames");
        expectMatches(playThroughQueue(format, packPackets(file, packets, 2048), 2048), *reference,
                      2, 3000);
    }
    {
        SCOPED_TRACE("raw frames with the cookie of an esds");
        expectMatches(
            playThroughQueue(format, packPackets(file, packets, 2048, header), 2048, cookie),
            *reference, 2, 3000);
    }
    {
        SCOPED_TRACE("raw frames, no cookie");
        expectMatches(playThroughQueue(format, packPackets(file, packets, 2048, header), 2048),
                      *reference, 2, 3000);
    }
}

}  // namespace
}  // namespace queuetest
