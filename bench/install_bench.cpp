// install_bench: installs a synthetic application version with InstallVersion and, in the same run,
// with the shell pipeline doing the same work (cp -a, bspatch per entry, sha1sum -c, mv), and prints
// the time ratio and the installer's peak memory.
//   install_bench [--files N] [--megabytes M] [--rounds R]   (default 200 files, 40 MB, 3 rounds)
//   install_bench --full                                      (1,000 files, 200 MB)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "starter/install_version.h"
#include "starter/start_config.h"
#include "starter/temp_file.h"

namespace fs = std::filesystem;
using namespace zolm::starter;
using Clock = std::chrono::steady_clock;

namespace {

void Write(const std::string &path, const std::string &content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::string Quoted(const std::string &path) { return "'" + path + "'"; }

void Run(const std::string &command) {
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "install_bench: failed: %s\n", command.c_str());
        std::exit(1);
    }
}

// Program-like content: runs of repeated bytes and noise, so bzip2 and bsdiff see realistic input.
std::string Content(std::mt19937_64 &random, size_t size) {
    std::string text(size, '\0');
    for (size_t i = 0; i < size;) {
        size_t run = 16 + random() % 256;
        char c = static_cast<char>(random());
        bool noise = random() % 3 == 0;
        for (size_t j = 0; j < run && i < size; ++j, ++i) text[i] = noise ? static_cast<char>(random()) : c;
    }
    return text;
}

struct Measure {
    double seconds = 0;
    long peakKb = 0;
};

// Forks, runs body in the child, and returns the wall time and the child's peak resident size.
template <typename Body>
Measure InChild(Body body) {
    auto start = Clock::now();
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    Measure m{std::chrono::duration<double>(Clock::now() - start).count(), usage.ru_maxrss};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "install_bench: a run failed\n");
        std::exit(1);
    }
    return m;
}

}  // namespace

int main(int argc, char **argv) {
    size_t files = 200, megabytes = 40;
    int rounds = 3;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--full") {
            files = 1000;
            megabytes = 200;
        } else if (a == "--files" && i + 1 < argc) {
            files = std::strtoul(argv[++i], nullptr, 10);
        } else if (a == "--megabytes" && i + 1 < argc) {
            megabytes = std::strtoul(argv[++i], nullptr, 10);
        } else if (a == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: install_bench [--full] [--files N] [--megabytes M] [--rounds R]\n");
            return 2;
        }
    }
    char name[] = "/tmp/install-bench-XXXXXX";
    if (::mkdtemp(name) == nullptr) return 1;
    const std::string root = name;
    const std::string v1 = root + "/src/1.0.0", v2 = root + "/src/1.0.1";

    // Version 1.0.0; 1.0.1 modifies 5% of the files, removes three and adds three.
    std::mt19937_64 random(42);
    size_t average = megabytes * 1024 * 1024 / std::max<size_t>(files, 1);
    size_t largest = 0;
    for (size_t i = 0; i < files; ++i) {
        std::string file = "dir" + std::to_string(i % 20) + "/file" + std::to_string(i) + ".bin";
        std::string content = Content(random, average / 2 + random() % average);
        Write(v1 + "/" + file, content);
        if (i % 97 == 3) continue;
        if (i % 20 == 7) {
            for (int k = 0; k < 8; ++k) content[random() % content.size()] ^= 0x5A;
            content.insert(content.size() / 2, "inserted in 1.0.1");
            largest = std::max(largest, content.size());
        }
        Write(v2 + "/" + file, content);
    }
    for (int i = 0; i < 3; ++i) {
        std::string content = Content(random, average);
        largest = std::max(largest, content.size());
        Write(v2 + "/added/new" + std::to_string(i) + ".bin", content);
    }
    const std::string answerFile = root + "/answer.xml";
    Run(std::string(ZOLM_PATCHMAKER) + " " + Quoted(v1) + " " + Quoted(v2) + " --out " + Quoted(answerFile));
    std::string answerText;
    {
        std::ifstream in(answerFile, std::ios::binary);
        answerText = "<response>" + std::string(std::istreambuf_iterator<char>(in), {}) + "</response>";
    }

    // The baseline's inputs: one patch file per entry, the list of entries and the digests.
    PatchDocument answer = PatchDocument::Parse(answerText.data(), answerText.size());
    std::string script = "set -e\ncp -a \"$1/1.0.0\" \"$1/work\"\n", sums;
    int n = 0;
    for (const PatchEntry &e : answer.Entries()) {
        std::string file = *e.Attribute("name"), patch = root + "/p" + std::to_string(n++);
        if (e.Mode() == "remove") {
            script += "rm \"$1/work/" + file + "\"\n";
            continue;
        }
        SecureBytes data = e.DecodeData();
        std::ofstream(patch, std::ios::binary)
            .write(reinterpret_cast<const char *>(data.data()), static_cast<std::streamsize>(data.size()));
        bool add = e.Mode() == "add";
        if (add) script += "mkdir -p \"$(dirname \"$1/work/" + file + "\")\"\n";
        script += "bspatch " + (add ? std::string("/dev/null") : "\"$1/1.0.0/" + file + "\"") + " \"$1/work/" + file +
                  "\" " + Quoted(patch) + "\n";
        sums += *e.Attribute(add ? "hash" : "hash-after") + "  " + file + "\n";
    }
    for (auto &c : sums)
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');  // sha1sum's lower case
    Write(root + "/sums", sums);
    script += "(cd \"$1/work\" && sha1sum --quiet -c " + Quoted(root + "/sums") + ")\nmv \"$1/work\" \"$1/1.0.1\"\n";
    Write(root + "/baseline.sh", script);

    auto prepare = [&](const std::string &program) {
        fs::remove_all(program);
        fs::create_directories(program + "/VERSIONS");
        Run("cp -a " + Quoted(v1) + " " + Quoted(program + "/VERSIONS/1.0.0"));
        Write(program + "/start.ini", "[versions]\nproduct=bench\ncurrent=1.0.0\n");
        Run("sync");
    };
    std::vector<double> ours, baseline;
    long peakKb = 0;
    const std::string program = root + "/program";
    auto runOurs = [&] {
        prepare(program);
        Measure m = InChild([&] {
            try {
                OpenSettings(program + "/");
                InstallVersion("1.0.0", "1.0.1", answer, false);
                return 0;
            } catch (const std::exception &e) {
                std::fprintf(stderr, "install_bench: %s\n", e.what());
                return 1;
            }
        });
        ours.push_back(m.seconds);
        peakKb = std::max(peakKb, m.peakKb);
    };
    auto runBaseline = [&] {
        prepare(program);
        baseline.push_back(InChild([&] {
                               return std::system(("sh " + Quoted(root + "/baseline.sh") + " " +
                                                   Quoted(program + "/VERSIONS"))
                                                      .c_str()) == 0
                                          ? 0
                                          : 1;
                           }).seconds);
    };
    // The order alternates, so neither side always finds the caches as the other left them.
    for (int r = 0; r < rounds; ++r) {
        if (r % 2 == 0) {
            runOurs();
            runBaseline();
        } else {
            runBaseline();
            runOurs();
        }
    }
    std::sort(ours.begin(), ours.end());
    std::sort(baseline.begin(), baseline.end());
    double a = ours[ours.size() / 2], b = baseline[baseline.size() / 2];
    double limitMb = 64 + 3.0 * static_cast<double>(largest) / (1024 * 1024);
    std::printf("install_bench: %zu files, %zu MB, %d entries, median of %d rounds\n", files, megabytes, n, rounds);
    std::printf("  InstallVersion        %.3f s\n", a);
    std::printf("  cp/bspatch/sha1sum/mv %.3f s\n", b);
    std::printf("  ratio                 %.2f (target <= 1.25)\n", a / b);
    std::printf("  peak memory           %.1f MB (target <= %.1f MB: 64 MB + 3 x largest entry)\n",
                static_cast<double>(peakKb) / 1024, limitMb);
    fs::remove_all(root);
    return 0;
}
