#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/Files.h"

namespace fs = std::filesystem;

namespace {
fs::path freshFolder(const char* name) {
    fs::path dir =
        fs::temp_directory_path() / (std::string(name) + "." + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}
}  // namespace

// The documents directory follows XDG_DATA_HOME, is created on demand and can be overridden.
TEST(Files, DocumentsDirectoryIsTheAppDataFolder) {
    fs::path root = freshFolder("ostra-docs");
    ::setenv("XDG_DATA_HOME", root.c_str(), 1);
    fs::path docs = platform::documentsDirectory();
    EXPECT_EQ(docs, root / "OstraRadio");
    EXPECT_TRUE(fs::is_directory(docs));
    platform::setDocumentsDirectoryOverride(root / "other");
    EXPECT_EQ(platform::documentsDirectory(), root / "other");
    platform::setDocumentsDirectoryOverride(std::nullopt);
    ::unsetenv("XDG_DATA_HOME");
    fs::remove_all(root);
}

// Writers racing on one file never let a reader see anything but one whole version, and
// no temporary file is left behind.
TEST(Files, AtomicWriteNeverShowsPartialFile) {
    fs::path dir = freshFolder("ostra-atomic");
    fs::path target = dir / "SongList.XML";
    const std::string versionA(300'000, 'a');
    const std::string versionB(200'000, 'b');
    ASSERT_TRUE(platform::writeFileAtomically(target, versionA));

    std::atomic<bool> stop{false};
    std::atomic<int> torn{0}, reads{0};
    std::thread reader([&] {
        while (!stop) {
            auto contents = platform::readWholeFile(target);
            ASSERT_TRUE(contents.has_value());
            if (*contents != versionA && *contents != versionB) ++torn;
            ++reads;
        }
    });
    std::vector<std::thread> writers;
    for (int w = 0; w < 2; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 0; i < 40; ++i) {
                EXPECT_TRUE(
                    platform::writeFileAtomically(target, (i + w) % 2 ? versionA : versionB));
            }
        });
    }
    for (auto& t : writers) t.join();
    stop = true;
    reader.join();
    EXPECT_EQ(torn, 0);
    EXPECT_GT(reads, 0);
    size_t entries = std::distance(fs::directory_iterator(dir), fs::directory_iterator());
    EXPECT_EQ(entries, 1u);
    fs::remove_all(dir);
}

// A write into a folder that does not exist fails and says so; reading a missing file gives
// nothing.
TEST(Files, FailuresAreReported) {
    EXPECT_FALSE(platform::writeFileAtomically("/nonexistent-folder/x/file", "data"));
    EXPECT_FALSE(platform::readWholeFile("/nonexistent-folder/x/file").has_value());
}
