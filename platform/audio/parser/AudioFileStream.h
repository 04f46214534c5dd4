#pragma once
// The audio file-stream parser: a push parser. Bytes of an audio file are handed in as they
// arrive, in pieces of any size; the parser reports the stream's properties and calls back with
// whole packets. Both callbacks run inside AudioFileStreamParseBytes, on the caller's thread.
//
// Threads: one handle is used by one thread at a time (the streaming thread).
//
// What the parser gives (AudioFileStream.cpp has the details): the properties are notified
// before the first packet, in the order 'dfmt', 'flst', 'mgic' (AAC and ALAC only), 'doff',
// 'bcnt' and 'pcnt' (when the container tells them), then 'redy' together with the first
// packets. 'mgic' is the decoder configuration as decoders take it: the AudioSpecificConfig
// for AAC, the 36-byte 'alac' atom for ALAC. For linear PCM, 'pkub' is a whole number of frames
// of at least 2048 bytes, so that buffers of that size never split a frame; 'psze' is one frame.

#include <cstdint>
#include <string>

#include "platform/audio/AudioTypes.h"

namespace audio {

using AudioFileStreamID = struct OpaqueAudioFileStream*;
using AudioFileTypeID = uint32_t;
using AudioFileStreamPropertyID = uint32_t;

// File-type hints.
constexpr AudioFileTypeID kAudioFileMP3Type = fourCC("MPG3");
constexpr AudioFileTypeID kAudioFileWAVEType = fourCC("WAVE");
constexpr AudioFileTypeID kAudioFileAIFCType = fourCC("AIFC");
constexpr AudioFileTypeID kAudioFileAIFFType = fourCC("AIFF");
constexpr AudioFileTypeID kAudioFileM4AType = fourCC("m4af");
constexpr AudioFileTypeID kAudioFileMPEG4Type = fourCC("mp4f");
constexpr AudioFileTypeID kAudioFileCAFType = fourCC("caff");
constexpr AudioFileTypeID kAudioFileAAC_ADTSType = fourCC("adts");
constexpr AudioFileTypeID kAudioFileFLACType = fourCC("flac");
constexpr AudioFileTypeID kAudioFileOggType = fourCC("OggS");

// The hint for a file name extension, as written in lower case ("mp3", "m4a", "aac", ...); MP3
// for any other, since a stream with no telling extension is most often MP3. A wrong hint only
// costs a look at the first bytes: the parser goes by what the data is.
AudioFileTypeID AudioFileTypeHintForExtension(const std::string& fileExtension);

// Property ids.
constexpr AudioFileStreamPropertyID kAudioFileStreamProperty_ReadyToProducePackets = fourCC("redy");
constexpr AudioFileStreamPropertyID kAudioFileStreamProperty_DataOffset = fourCC("doff");
constexpr AudioFileStreamPropertyID kAudioFileStreamProperty_AudioDataByteCount = fourCC("bcnt");
constexpr AudioFileStreamPropertyID kAudioFileStreamProperty_AudioDataPacketCount = fourCC("pcnt");
constexpr AudioFileStreamPropertyID kAudioFileStreamProperty_DataFormat = fourCC("dfmt");
constexpr AudioFileStreamPropertyID kAudioFileStreamProperty_FormatList = fourCC("flst");
constexpr AudioFileStreamPropertyID kAudioFileStreamProperty_PacketSizeUpperBound = fourCC("pkub");
constexpr AudioFileStreamPropertyID kAudioFileStreamProperty_MaximumPacketSize = fourCC("psze");
constexpr AudioFileStreamPropertyID kAudioFileStreamProperty_MagicCookieData = fourCC("mgic");
constexpr AudioFileStreamPropertyID kAudioFileStreamProperty_BitRate = fourCC("brat");
// uint32_t, writable, 1 until the reader sets 0: a reader that can never reposition (no
// length) says so, and the parser keeps no index of the packets seen for exact seeks.
constexpr AudioFileStreamPropertyID kAudioFileStreamProperty_SeekIndexWanted = fourCC("sidw");
// int64_t, notified: the file offset the parser would like the next bytes to come from (an
// MP4 whose index follows its data). A reader able to reposition pushes the bytes from there,
// the first push flagged as a discontinuity; one that cannot just goes on in order, and the
// parser keeps the data aside (up to a bound) until the index has come.
constexpr AudioFileStreamPropertyID kAudioFileStreamProperty_RequestedByteOffset = fourCC("rqof");

// Flags.
constexpr uint32_t kAudioFileStreamParseFlag_Discontinuity = 1;
// The reader has no more bytes: a format whose packets end only where the next begins (FLAC)
// hands over its last one. The call may carry bytes too.
constexpr uint32_t kAudioFileStreamParseFlag_EndOfData = 2;
constexpr uint32_t kAudioFileStreamSeekFlag_OffsetIsEstimated = 1;
constexpr uint32_t kAudioFileStreamPropertyFlag_PropertyIsCached = 1;

// Statuses.
constexpr OSStatus kAudioFileStreamError_UnsupportedFileType = fourCC("typ?");
constexpr OSStatus kAudioFileStreamError_UnsupportedDataFormat = fourCC("fmt?");
constexpr OSStatus kAudioFileStreamError_UnsupportedProperty = fourCC("pty?");
constexpr OSStatus kAudioFileStreamError_BadPropertySize = fourCC("!siz");
constexpr OSStatus kAudioFileStreamError_NotOptimized = fourCC("optm");
constexpr OSStatus kAudioFileStreamError_InvalidPacketOffset = fourCC("pck?");
constexpr OSStatus kAudioFileStreamError_InvalidFile = fourCC("dta?");
constexpr OSStatus kAudioFileStreamError_ValueUnknown = fourCC("unk?");
constexpr OSStatus kAudioFileStreamError_DataUnavailable = fourCC("more");
constexpr OSStatus kAudioFileStreamError_IllegalOperation = fourCC("nope");
constexpr OSStatus kAudioFileStreamError_UnspecifiedError = fourCC("wht?");
constexpr OSStatus kAudioFileStreamError_DiscontinuityCantRecover = fourCC("dsc!");

using AudioFileStream_PropertyListenerProc = void (*)(void* clientData, AudioFileStreamID stream,
                                                      AudioFileStreamPropertyID propertyID,
                                                      uint32_t* ioFlags);
// Variable-size packets come with descriptions whose start offsets are relative to
// `inputData`; constant-size packets (PCM) come with `packetDescriptions` null.
using AudioFileStream_PacketsProc = void (*)(void* clientData, uint32_t numberBytes,
                                             uint32_t numberPackets, const void* inputData,
                                             AudioStreamPacketDescription* packetDescriptions);

OSStatus AudioFileStreamOpen(void* clientData, AudioFileStream_PropertyListenerProc propertyProc,
                             AudioFileStream_PacketsProc packetsProc, AudioFileTypeID fileTypeHint,
                             AudioFileStreamID* outStream);

OSStatus AudioFileStreamParseBytes(AudioFileStreamID stream, uint32_t dataByteSize,
                                   const void* data, uint32_t flags);

OSStatus AudioFileStreamGetPropertyInfo(AudioFileStreamID stream,
                                        AudioFileStreamPropertyID propertyID,
                                        uint32_t* outPropertyDataSize, bool* outWritable);

OSStatus AudioFileStreamGetProperty(AudioFileStreamID stream, AudioFileStreamPropertyID propertyID,
                                    uint32_t* ioPropertyDataSize, void* outPropertyData);

// Only 'sidw' is writable; it may be set from inside the callbacks.
OSStatus AudioFileStreamSetProperty(AudioFileStreamID stream, AudioFileStreamPropertyID propertyID,
                                    uint32_t propertyDataSize, const void* propertyData);

// Byte offset, within the audio data, of the packet `packetOffset`. ioFlags bit 0 comes back
// set when the offset is an estimate.
OSStatus AudioFileStreamSeek(AudioFileStreamID stream, int64_t packetOffset,
                             int64_t* outDataByteOffset, uint32_t* ioFlags);

OSStatus AudioFileStreamClose(AudioFileStreamID stream);

}  // namespace audio
