// How the programme list's cost grows with the feed: for feeds of 100 to 100,000 programmes,
// served from loopback, the first showing of the list (download, parse, the three lists, the
// cache written, the table reloaded), a later showing (the cache parsed again), a reload of the
// table, and a scroll through every row with the arrow key: wall time of each, operator new
// calls per row of the scroll, and the peak memory of the process that did it. Each size runs in a
// child process of its own, so its peak is its own.
//
//   catalogue_bench [SIZES...]      (default 100 1000 10000 100000)

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QKeyEvent>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/AllocatorArenas.h"
#include "platform/Files.h"
#include "platform/MainQueue.h"
#include "platform/ui/QtMainQueue.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TableView.h"
#include "screens/On_DemandListViewController.h"
#include "screens/StationAddresses.h"
#include "tests/http/AllocationCounter.h"
#include "tests/support/TestHttpServer.h"

namespace {

using Clock = std::chrono::steady_clock;

// The process's resident memory now, from the kernel's books.
double residentMegabytes() {
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (!status) return 0;
    char line[256];
    double kilobytes = 0;
    while (std::fgets(line, sizeof line, status)) {
        if (std::sscanf(line, "VmRSS: %lf kB", &kilobytes) == 1) break;
    }
    std::fclose(status);
    return kilobytes / 1024.0;
}

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// An RSS 2.0 feed as the station publishes it: the channel's and its image's titles first,
// then one item a programme with its enclosure and author.
std::string feedOf(size_t programmes) {
    std::string feed =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\">\n<channel>\n"
        "  <title>Ostra Radio</title>\n  <link>http://radio.example/</link>\n"
        "  <image>\n    <url>http://radio.example/logo.png</url>\n"
        "    <title>Ostra Radio logo</title>\n  </image>\n";
    feed.reserve(programmes * 260);
    for (size_t i = 0; i < programmes; ++i) {
        const std::string n = std::to_string(i + 1);
        feed += "  <item>\n    <title>Harbour Talk, part " + n + ": the morning tide</title>\n";
        feed += "    <enclosure url=\"http://radio.example/programmes/harbour-talk-" + n +
                ".mp3\" length=\"9600000\" type=\"audio/mpeg\"/>\n";
        feed += "    <author>Anna Berg</author>\n  </item>\n";
    }
    return feed + "</channel>\n</rss>\n";
}

std::string format(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

int runOneSize(size_t programmes) {
    // As the app's main does.
    platform::useOneAllocatorArena();
    // Offscreen unless told otherwise (under Xvfb, QT_QPA_PLATFORM=xcb shows the real path).
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int argc = 1;
    static char name[] = "catalogue_bench";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    auto queue = std::make_shared<ui::QtMainQueue>();
    platform::MainQueue::setMain(queue);
    ui::Screen::setScale(1.5f);

    char folder[] = "/tmp/ostra-catalogue-bench-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    platform::setDocumentsDirectoryOverride(std::filesystem::path(folder));

    testsupport::TestHttpServer server;
    server.serve("/dev/feed/", testsupport::Response::bytes(feedOf(programmes)));
    StationAddresses addresses;
    addresses.feedURL = server.url("/dev/feed/");

    double firstShowing = 0, laterShowing = 0, reload = 0, scroll = 0, residentBefore = 0;
    size_t allocations = 0, rows = 0, cachedRows = 0;
    {
        On_DemandListViewController list(addresses);
        // Shown in a window of its own, as the tab shows it: Qt then keeps its repaint books too.
        ui::View* view = list.view();
        view->resize(480, 600);
        view->show();
        QApplication::processEvents();
        ui::TableView& table = *list.tableView();

        residentBefore = residentMegabytes();
        auto start = Clock::now();
        list.viewWillAppear(false);
        firstShowing = millisecondsSince(start);
        rows = size_t(list.numberOfRowsInSection(table, 0));

        start = Clock::now();
        list.viewWillAppear(false);
        laterShowing = millisecondsSince(start);
        cachedRows = size_t(list.numberOfRowsInSection(table, 0));

        start = Clock::now();
        table.reloadData();
        reload = millisecondsSince(start);

        // Down the whole list a row at a time from the keyboard, as the arrow key does: each
        // row comes into view once, from a cell the row that left gave back.
        QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
        QApplication::sendEvent(&table, &down);
        start = Clock::now();
        testsupport::startCountingAllocations();
        for (size_t row = 1; row < rows; ++row) QApplication::sendEvent(&table, &down);
        allocations = testsupport::stopCountingAllocations();
        scroll = millisecondsSince(start);
        // The background refresh the later showing started may still be running.
        platform::MainQueue::main().postAfter(0.2, [] { QApplication::quit(); });
        app.exec();
    }
    std::filesystem::remove_all(folder);
    std::printf("%zu %zu %zu %.1f %.1f %.1f %.1f %zu %.1f\n", programmes, rows, cachedRows,
                firstShowing, laterShowing, reload, scroll, allocations, residentBefore);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--size") return runOneSize(std::stoul(argv[2]));
    std::vector<std::string> sizes;
    for (int i = 1; i < argc; ++i) sizes.emplace_back(argv[i]);
    if (sizes.empty()) sizes = {"100", "1000", "10000", "100000"};

    // The last column is the peak less what the process held just before the list was first
    // shown (Qt, the window, the server's copy of the feed): what the catalogue itself costs.
    std::printf("%-10s %-12s %-12s %-10s %-12s %-16s %-12s %s\n", "programmes", "first (ms)",
                "later (ms)", "reload", "scroll (ms)", "allocs per row", "peak RSS", "above start");
    for (const std::string& size : sizes) {
        int out[2];
        if (::pipe(out) != 0) return 1;
        const pid_t child = ::fork();
        if (child == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::execl("/proc/self/exe", argv[0], "--size", size.c_str(), nullptr);
            _exit(127);
        }
        ::close(out[1]);
        std::string line;
        char buffer[512];
        ssize_t n;
        while ((n = ::read(out[0], buffer, sizeof buffer)) > 0) line.append(buffer, size_t(n));
        ::close(out[0]);
        int status = 0;
        rusage usage{};
        ::wait4(child, &status, 0, &usage);
        size_t programmes = 0, rows = 0, cachedRows = 0, allocations = 0;
        double first = 0, later = 0, reload = 0, scroll = 0, residentBefore = 0;
        if (std::sscanf(line.c_str(), "%zu %zu %zu %lf %lf %lf %lf %zu %lf", &programmes, &rows,
                        &cachedRows, &first, &later, &reload, &scroll, &allocations,
                        &residentBefore) != 9) {
            std::printf("%-10s did not run (status %d)\n", size.c_str(), status);
            continue;
        }
        const double peak = double(usage.ru_maxrss) / 1024.0;
        std::printf("%-10zu %-12.1f %-12.1f %-10.1f %-12.1f %-16.2f %-12s %.1f MB%s\n", programmes,
                    first, later, reload, scroll, rows ? double(allocations) / double(rows) : 0.0,
                    (format(peak) + " MB").c_str(), peak - residentBefore,
                    rows == programmes && cachedRows == programmes ? "" : "  (rows missing)");
    }
    return 0;
}
