// Benchmark of the settings store: a read and a write of a setting (each under the named mutex)
// against a plain flock plus a read of the same "start.ini" as the baseline of the same run.
// Prints nanoseconds per operation (median of several rounds) and the ratios to the baseline.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/named_objects.h"
#include "starter/start_config.h"

namespace {

double NanosPerOp(int iterations, const std::function<void(int)> &op) {
    std::vector<double> rounds;
    for (int round = 0; round < 5; ++round) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < iterations; ++i) op(i);
        std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
        rounds.push_back(took.count() / iterations);
    }
    std::sort(rounds.begin(), rounds.end());
    return rounds[rounds.size() / 2];
}

}  // namespace

int main() {
    namespace fs = std::filesystem;
    char tmpl[] = "/tmp/zolm-settings-bench-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return 1;
    std::string root = tmpl;
    fs::create_directories(root + "/program");
    fs::create_directories(root + "/run");
    fs::permissions(root + "/run", fs::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", (root + "/run").c_str(), 1);
    std::string program = root + "/program/";
    std::ofstream(program + "start.ini")
        << "[versions]\nproduct=demo\nurl=https://updates.example/RPC2\ncurrent=1.0.0.17\nsilent=0\n"
           "[proxy]\ntype=INTERNET_OPEN_TYPE_PRECONFIG\nhost=\nport=\n"
           "[probe]\nurl=https://crypto.example/probe.txt\ncontent=OK\ntimedelta=300\n"
           "[application]\ntitle=Demo\nmain=bin/app\nsplash=splash.jpg\nicon_set=Opus\n";

    zolm::starter::SettingsStore store(program);
    std::string lockPath = zolm::platform::LockFilePath("settings bench baseline");
    int lockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    std::string ini = program + "start.ini";
    size_t sink = 0;

    double baseline = NanosPerOp(20000, [&](int) {
        flock(lockFd, LOCK_EX);
        int fd = open(ini.c_str(), O_RDONLY | O_CLOEXEC);
        char buffer[4096];
        ssize_t got;
        while ((got = read(fd, buffer, sizeof buffer)) > 0) sink += static_cast<size_t>(got);
        close(fd);
        flock(lockFd, LOCK_UN);
    });
    double readNs = NanosPerOp(20000, [&](int) { sink += store.ReadSetting("application.icon_set").size(); });
    double writeNs = NanosPerOp(200, [&](int i) { store.WriteSetting("proxy.port", std::to_string(3128 + i % 2)); });

    std::printf("baseline (flock + read of start.ini): %10.0f ns/op\n", baseline);
    std::printf("ReadSetting under the mutex:          %10.0f ns/op  ratio %.2fx (target <= 3x)\n", readNs,
                readNs / baseline);
    std::printf("WriteSetting under the mutex:         %10.0f ns/op  ratio %.2fx (atomic replace, flushed to disk)\n",
                writeNs, writeNs / baseline);
    close(lockFd);
    fs::remove_all(root);
    return sink == 0 ? 1 : 0;
}
