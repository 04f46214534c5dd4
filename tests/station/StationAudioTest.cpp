// The station's audio: made by the generator only when files are missing, and what the real
// generator makes (a seamless live loop of whole frames, programmes of every kind the feed
// announces).

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <thread>

#include "StationTestSupport.h"
#include "tools/station/LiveBroadcast.h"
#include "tools/station/Mp3Frames.h"
#include "tools/station/StationAudio.h"
#include "tools/station/StationCatalogue.h"

using namespace stationtest;
namespace fs = std::filesystem;

namespace {

// A folder of its own for each test, removed afterwards.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& name)
        : path_(fs::temp_directory_path() /
                ("ostra-station-" + name + "-" + std::to_string(::getpid()))) {
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~ScratchFolder() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// A stand-in generator: counts its runs in `runs` beside the audio folder, then runs `body`.
fs::path writeGenerator(const fs::path& folder, const std::string& body) {
    const fs::path script = folder / "generator.sh";
    std::ofstream(script) << "set -e\necho run >> \"$1/../runs\"\n" << body << "\n";
    return script;
}

int runCount(const fs::path& folder) {
    std::ifstream in(folder / "runs");
    int lines = 0;
    for (std::string line; std::getline(in, line);) ++lines;
    return lines;
}

// A process that has ended but not been reaped yet counts as ended.
bool isRunning(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    const size_t close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

// Decodes an MP3 with the ffmpeg command line into mono 16-bit samples at 44.1 kHz.
std::vector<int16_t> decode(const fs::path& file) {
    const std::string command =
        "ffmpeg -nostdin -v error -i '" + file.string() + "' -f s16le -ac 1 -ar 44100 -";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    std::vector<int16_t> samples;
    std::array<int16_t, 8192> buffer;
    while (size_t n = std::fread(buffer.data(), sizeof(int16_t), buffer.size(), pipe.get())) {
        samples.insert(samples.end(), buffer.begin(), buffer.begin() + n);
    }
    return samples;
}

}  // namespace

// The generator runs when a file is missing and not again while every file is there; several
// starts at once on one folder run it once.
TEST(StationAudio, GeneratesOnlyWhatIsMissing) {
    ScratchFolder folder("generate");
    const fs::path audio = folder.path() / "audio";
    const auto script = writeGenerator(
        folder.path(), "for f in a.mp3 b.m4a; do [ -s \"$1/$f\" ] || echo x > \"$1/$f\"; done");
    const std::vector<std::string> files = {"a.mp3", "b.m4a"};
    station::StopSignal stop;

    std::vector<station::AudioCheck> checks(3);
    std::vector<std::thread> starts;
    for (auto& check : checks) {
        starts.emplace_back(
            [&] { check = station::ensureStationAudio(audio, script, files, stop); });
    }
    for (auto& t : starts) t.join();
    for (const auto& check : checks) EXPECT_TRUE(check.ready) << check.error;
    EXPECT_EQ(runCount(folder.path()), 1);

    auto again = station::ensureStationAudio(audio, script, files, stop);
    EXPECT_TRUE(again.ready);
    EXPECT_FALSE(again.generated);
    EXPECT_EQ(runCount(folder.path()), 1);

    fs::resize_file(audio / "b.m4a", 0);  // an empty file counts as missing
    again = station::ensureStationAudio(audio, script, files, stop);
    EXPECT_TRUE(again.ready);
    EXPECT_TRUE(again.generated);
    EXPECT_EQ(runCount(folder.path()), 2);
}

// A generator that fails, or that leaves a file out, is reported and the audio is not ready.
TEST(StationAudio, ReportsAFailingGenerator) {
    ScratchFolder folder("failing");
    station::StopSignal stop;
    auto failing = writeGenerator(folder.path(), "exit 3");
    auto check = station::ensureStationAudio(folder.path() / "audio", failing, {"a.mp3"}, stop);
    EXPECT_FALSE(check.ready);
    EXPECT_NE(check.error.find("exited with status 3"), std::string::npos) << check.error;

    auto forgetful = writeGenerator(folder.path(), "echo x > \"$1/a.mp3\"");
    check =
        station::ensureStationAudio(folder.path() / "audio", forgetful, {"a.mp3", "b.mp3"}, stop);
    EXPECT_FALSE(check.ready);
    EXPECT_NE(check.error.find("did not make b.mp3"), std::string::npos) << check.error;
}

// A stop while the generator runs ends it, and whatever it had started, at once.
TEST(StationAudio, StopEndsARunningGenerator) {
    ScratchFolder folder("stop");
    const fs::path started = folder.path() / "started";
    auto script = writeGenerator(folder.path(), "sleep 300 &\necho $! > \"" + started.string() +
                                                    ".pid\"\n"
                                                    "touch \"" +
                                                    started.string() + "\"\nwait");
    station::StopSignal stop;
    std::thread stopper([&] {
        const auto deadline = Clock::now() + 20s;
        while (!fs::exists(started) && Clock::now() < deadline) std::this_thread::yield();
        stop.request();
    });
    const auto before = Clock::now();
    auto check = station::ensureStationAudio(folder.path() / "audio", script, {"a.mp3"}, stop);
    stopper.join();
    EXPECT_TRUE(check.stopped);
    EXPECT_FALSE(check.ready);
    EXPECT_LT(Clock::now() - before, 20s);
    // The script's own child went with it.
    std::ifstream pidFile(started.string() + ".pid");
    pid_t child = 0;
    pidFile >> child;
    ASSERT_GT(child, 0);
    const auto deadline = Clock::now() + 10s;
    while (isRunning(child) && Clock::now() < deadline) std::this_thread::yield();
    EXPECT_FALSE(isRunning(child)) << "the generator's child is still running";
}

// The live loop is a bare run of 128 kbit/s frames lasting a whole number of seconds, the
// programmes are MP3, ADTS AAC and M4A with its index ahead of the data, 1.5 to 10 minutes.
TEST(StationAudio, RealAudioHasTheFormsTheStationServes) {
    std::string error;
    auto loop = station::LiveLoop::load(audioDir() / station::kLiveLoopFile, &error);
    ASSERT_TRUE(loop) << error;
    EXPECT_EQ(loop->bitrateKbps(), 128);
    EXPECT_EQ(loop->sampleRate(), 44100);
    EXPECT_EQ(loop->frameCount(), 4900);
    EXPECT_DOUBLE_EQ(loop->durationSeconds(), 128.0);
    EXPECT_EQ(loop->bytes().size(), fs::file_size(audioDir() / station::kLiveLoopFile));

    for (const auto& programme : station::stationProgrammes()) {
        SCOPED_TRACE(programme.file);
        const auto bytes = testsupport::readFileBytes(audioDir() / programme.file);
        ASSERT_GT(bytes.size(), 100000u);
        const std::string extension = programme.file.substr(programme.file.rfind('.'));
        if (extension == ".mp3") {
            auto index = station::indexMp3Frames(bytes, &error);
            ASSERT_TRUE(index) << error;
            const double seconds = static_cast<double>(index->offsets.size()) *
                                   index->samplesPerFrame / index->sampleRate;
            EXPECT_GE(seconds, 85.0);
            EXPECT_LE(seconds, 605.0);
        } else if (extension == ".aac") {
            EXPECT_EQ(bytes[0], 0xFF);
            EXPECT_EQ(bytes[1] & 0xF6, 0xF0);  // ADTS sync word, layer 0
        } else {
            const std::string text(bytes.begin(),
                                   bytes.begin() + std::min<size_t>(bytes.size(), 1 << 20));
            ASSERT_NE(text.find("moov"), std::string::npos);
            EXPECT_LT(text.find("moov"), text.find("mdat"));
        }
    }
}

// Played round and round, the loop's end joins its start without a click: around the join the
// decoded wave is no rougher than anywhere inside the loop.
TEST(StationAudio, LiveLoopJoinsWithoutAClick) {
    ScratchFolder folder("seam");
    const auto loop = testsupport::readFileBytes(audioDir() / station::kLiveLoopFile);
    {
        std::ofstream twice(folder.path() / "twice.mp3", std::ios::binary);
        twice.write(reinterpret_cast<const char*>(loop.data()),
                    static_cast<std::streamsize>(loop.size()));
        twice.write(reinterpret_cast<const char*>(loop.data()),
                    static_cast<std::streamsize>(loop.size()));
    }
    const auto samples = decode(folder.path() / "twice.mp3");
    const size_t period = 128 * 44100;
    ASSERT_GE(samples.size(), 2 * period - 2000);
    // The second difference is what a click shows up in: a step or a spike.
    auto roughness = [&](size_t from, size_t to) {
        int worst = 0;
        for (size_t i = from; i < to; ++i) {
            worst = std::max(worst, std::abs(samples[i + 1] - 2 * samples[i] + samples[i - 1]));
        }
        return worst;
    };
    const int inside = roughness(8192, period - 8192);
    const int join = roughness(period - 4096, period + 4096);
    EXPECT_LE(join, inside);
    RecordProperty("roughness_inside", inside);
    RecordProperty("roughness_at_join", join);
}
