// Playlists: a station's PLS or M3U address is read whole, then its first entry is played in
// the same run, and the next one whenever an entry fails before any audio of it came. The
// parser never sees the playlist: it opens on the entry's first bytes. An HLS playlist is read
// the same way, and then its segments, one continuous body, are the run's stream.

#include "platform/Log.h"
#include "platform/http/Playlist.h"
#include "platform/http/ReadStream.h"
#include "streaming/AudioStreamer.h"

void AudioStreamer::resetPlaylist() {
    streamURL = url;
    readingPlaylist = false;
    playlistBytes.clear();
    playlistEntries.clear();
    playlistEntry = 0;
    pendingPlaylistEntry.reset();
    hlsPlaylist.reset();
    pendingHlsStream = false;
}

void AudioStreamer::readPlaylistBytes() {
    char bytes[2048];
    while (stream && stream->hasBytesAvailable()) {
        const long length = stream->read(reinterpret_cast<uint8_t*>(bytes), sizeof bytes);
        if (length < 0) {
            failWithErrorCode(AS_AUDIO_DATA_NOT_FOUND);
            return;
        }
        if (length == 0) return;
        playlistBytes.append(bytes, size_t(length));
        if (playlistBytes.size() > platform::http::kMaxPlaylistBytes) {
            platform::log("Playlist too long; not a playlist after all");
            failWithErrorCode(AS_AUDIO_DATA_NOT_FOUND);
            return;
        }
    }
}

void AudioStreamer::followPlaylist() {
    readingPlaylist = false;
    if (platform::http::isHlsPlaylist(platform::http::playlistLines(playlistBytes))) {
        hlsPlaylist = std::move(playlistBytes);
        playlistBytes.clear();
        // Opened on the loop's next turn, as an entry is.
        pendingHlsStream = true;
        return;
    }
    playlistEntries = platform::http::playlistEntries(playlistBytes, streamURL);
    playlistBytes.clear();
    if (playlistEntries.empty()) {
        platform::log("Playlist without a stream address");
        failWithErrorCode(AS_AUDIO_DATA_NOT_FOUND);
        return;
    }
    // Opened on the loop's next turn: the playlist's download is still in its own callback.
    pendingPlaylistEntry = 0;
}

bool AudioStreamer::tryNextPlaylistEntry() {
    // Only before any audio of the entry came: once it played, a failure is the run's.
    if (playlistEntries.empty() || audioQueue || isFinishing() ||
        playlistEntry + 1 >= playlistEntries.size()) {
        return false;
    }
    platform::logf("Playlist entry %zu failed; trying the next", playlistEntry + 1);
    pendingPlaylistEntry = playlistEntry + 1;
    return true;
}

bool AudioStreamer::openPendingPlaylistEntry() {
    if (isFinishing()) return false;
    if (pendingHlsStream) {
        pendingHlsStream = false;
        return reopenForPlaylist();
    }
    if (!pendingPlaylistEntry) return false;
    playlistEntry = *pendingPlaylistEntry;
    pendingPlaylistEntry.reset();
    streamURL = playlistEntries[playlistEntry];
    return reopenForPlaylist();
}

bool AudioStreamer::reopenForPlaylist() {
    if (stream) {
        stream->close();
        stream.reset();
    }
    // The entry is a resource of its own: its headers, length and format are read afresh.
    if (audioFileStream) {
        (void)audio::AudioFileStreamClose(audioFileStream);
        audioFileStream = nullptr;
    }
    httpHeaders_.reset();
    fileLength.store(0);
    seekByteOffset = 0;
    discontinuous = false;
    return openReadStream();
}
