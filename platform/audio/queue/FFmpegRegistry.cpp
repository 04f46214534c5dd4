// The codec and parser lists of a static libavcodec link, holding only what AudioDecoder uses.
//
// libavcodec's own lists (allcodecs.o, parsers.o) name every codec and parser of the build, so
// linking them would pull in every encoder and external codec library Debian's build enables
// (x264, x265, aom, dav1d, vpx, rsvg, ...), which is what this link avoids. Defining the lookup
// functions of those two objects here keeps the linker from ever loading them. Should a future
// libavcodec reference one of their symbols not defined here, the link fails with duplicate
// definitions instead of silently taking the full lists.
//
// Compiled only into the static link (see CMakeLists.txt); against the shared library the
// library's own lists serve, and the two give the same answers for our formats.
//
// Threads: any; the lists are constant.

#include <cstdint>
#include <cstring>
#include <span>

extern "C" {
#include <libavcodec/avcodec.h>

// The decoder and parser objects inside libavcodec.a. Each decoder is libavcodec's internal
// FFCodec, whose first member is the public AVCodec, so its address is that of an AVCodec:
// libavcodec's own lists hold them the same way. The chosen decoders are those libavcodec
// prefers for each codec id: the float MP3 and AAC decoders, libavcodec's own Vorbis, Opus and
// FLAC decoders.
extern const AVCodec ff_mp3float_decoder, ff_aac_decoder, ff_alac_decoder;
extern const AVCodec ff_vorbis_decoder, ff_opus_decoder, ff_flac_decoder;
extern const AVCodec ff_pcm_s8_decoder, ff_pcm_u8_decoder;
// clang-format off
extern const AVCodec ff_pcm_s16le_decoder, ff_pcm_s16be_decoder, ff_pcm_u16le_decoder, ff_pcm_u16be_decoder;
extern const AVCodec ff_pcm_s24le_decoder, ff_pcm_s24be_decoder, ff_pcm_u24le_decoder, ff_pcm_u24be_decoder;
extern const AVCodec ff_pcm_s32le_decoder, ff_pcm_s32be_decoder, ff_pcm_u32le_decoder, ff_pcm_u32be_decoder;
extern const AVCodec ff_pcm_f32le_decoder, ff_pcm_f32be_decoder, ff_pcm_f64le_decoder, ff_pcm_f64be_decoder;
// clang-format on
extern const AVCodecParser ff_mpegaudio_parser, ff_aac_parser;
}

namespace {

// clang-format off
const AVCodec* const kDecoders[] = {
    &ff_mp3float_decoder,   &ff_aac_decoder,        &ff_alac_decoder,
    &ff_vorbis_decoder,     &ff_opus_decoder,       &ff_flac_decoder,
    &ff_pcm_s8_decoder,     &ff_pcm_u8_decoder,
    &ff_pcm_s16le_decoder,  &ff_pcm_s16be_decoder,  &ff_pcm_u16le_decoder,  &ff_pcm_u16be_decoder,
    &ff_pcm_s24le_decoder,  &ff_pcm_s24be_decoder,  &ff_pcm_u24le_decoder,  &ff_pcm_u24be_decoder,
    &ff_pcm_s32le_decoder,  &ff_pcm_s32be_decoder,  &ff_pcm_u32le_decoder,  &ff_pcm_u32be_decoder,
    &ff_pcm_f32le_decoder,  &ff_pcm_f32be_decoder,  &ff_pcm_f64le_decoder,  &ff_pcm_f64be_decoder,
};
// clang-format on

// The MPEG audio parser splits MP3 (and MP1/MP2) streams, the AAC parser ADTS streams. ALAC
// and PCM need none, nor do the Ogg codecs and FLAC, whose packets come whole.
const AVCodecParser* const kParsers[] = {&ff_mpegaudio_parser, &ff_aac_parser};

// libavcodec's iteration protocol: *opaque starts null and holds the next index afterwards.
template <typename T>
const T* next(std::span<const T* const> list, void** opaque) {
    const auto index = reinterpret_cast<uintptr_t>(*opaque);
    if (index >= list.size()) return nullptr;
    *opaque = reinterpret_cast<void*>(index + 1);
    return list[index];
}

}  // namespace

extern "C" {

const AVCodec* av_codec_iterate(void** opaque) { return next<AVCodec>(kDecoders, opaque); }

const AVCodec* avcodec_find_decoder(enum AVCodecID id) {
    for (const AVCodec* codec : kDecoders) {
        if (codec->id == id) return codec;
    }
    return nullptr;
}

const AVCodec* avcodec_find_decoder_by_name(const char* name) {
    if (!name) return nullptr;
    for (const AVCodec* codec : kDecoders) {
        if (std::strcmp(codec->name, name) == 0) return codec;
    }
    return nullptr;
}

// This build encodes nothing.
const AVCodec* avcodec_find_encoder(enum AVCodecID) { return nullptr; }
const AVCodec* avcodec_find_encoder_by_name(const char*) { return nullptr; }

const AVCodecParser* av_parser_iterate(void** opaque) {
    return next<AVCodecParser>(kParsers, opaque);
}

}  // extern "C"
