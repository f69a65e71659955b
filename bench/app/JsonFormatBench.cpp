// FormatJsonResult on a generated ~10 MB JSON text, side by side with Python's
// json.loads + json.dumps(indent=4, ensure_ascii=False) on the same text, plus
// the formatter's peak memory measured in a forked child.
#include "app/JsonFormat.h"

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>
#include <sys/wait.h>
#include <vector>

namespace {

constexpr std::size_t kTargetBytes = 10 * 1000 * 1000;

class Lcg
{
public:
    std::uint32_t Next()
    {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>(state_ >> 33);
    }
    std::uint32_t Below(std::uint32_t n) { return Next() % n; }

private:
    std::uint64_t state_ = 20261208;
};

// Numbers and strings are chosen so that Python writes them back in the same
// form (integers, short decimals, exponents of two digits, no raw control
// characters, no "\/"), which lets the run compare both outputs.
std::string Number(Lcg& rng)
{
    char buf[48];
    switch (rng.Below(4)) {
    case 0: std::snprintf(buf, sizeof buf, "%d", int(rng.Below(2000000)) - 1000000); break;
    case 1: std::snprintf(buf, sizeof buf, "%u.%u5", rng.Below(1000), rng.Below(100)); break;
    case 2: std::snprintf(buf, sizeof buf, "-%u.25e+%u", 1 + rng.Below(9), 20 + rng.Below(80)); break;
    default: std::snprintf(buf, sizeof buf, "%u.5e-%u", 1 + rng.Below(9), 10 + rng.Below(80)); break;
    }
    return buf;
}

std::string Text(Lcg& rng)
{
    static const char* const kPieces[] = {
        "日本語のテキスト", "東京都", "データ変換", "ascii words here", "path/to/file",
        "line\\nbreak", "tab\\there", "\\\"quoted\\\"", "back\\\\slash", "caf\\u00e9",
        "\\u65e5\\u672c", "\\ud83d\\ude00", "\\b\\f\\r", "エラーなし", "x"};
    std::string s = "\"";
    const int n = 1 + int(rng.Below(4));
    for (int i = 0; i < n; ++i) {
        if (i)
            s += ' ';
        s += kPieces[rng.Below(sizeof kPieces / sizeof *kPieces)];
    }
    return s + "\"";
}

void Value(Lcg& rng, std::string& out, int depth)
{
    const std::uint32_t pick = depth >= 5 ? rng.Below(5) : rng.Below(8);
    switch (pick) {
    case 0:
    case 1: out += Number(rng); return;
    case 2:
    case 3: out += Text(rng); return;
    case 4: out += rng.Below(3) == 0 ? "null" : rng.Below(2) ? "true" : "false"; return;
    case 5:
    case 6: {
        out += '{';
        const int n = 1 + int(rng.Below(5));
        for (int i = 0; i < n; ++i) {
            if (i)
                out += rng.Below(2) ? "," : ", ";
            // Distinct keys: Python would keep only the last of duplicates.
            out += "\"key" + std::to_string(i) + (rng.Below(4) ? "\"" : "名\"");
            out += ':';
            Value(rng, out, depth + 1);
        }
        out += '}';
        return;
    }
    default: {
        out += '[';
        const int n = 1 + int(rng.Below(5));
        for (int i = 0; i < n; ++i) {
            if (i)
                out += ',';
            Value(rng, out, depth + 1);
        }
        out += ']';
        return;
    }
    }
}

std::string Generate()
{
    Lcg rng;
    std::string out = "{\"generator\": \"quorbel bench\", \"records\": [\n";
    for (int id = 0; out.size() < kTargetBytes; ++id) {
        if (id)
            out += ",\n";
        out += "  {\"id\": " + std::to_string(id) + ", \"name\": \"レコード" + std::to_string(id) + "\", \"data\": ";
        Value(rng, out, 1);
        out += '}';
    }
    out += "\n]}\n";
    return out;
}

const std::string& Utf8Input()
{
    static const std::string text = Generate();
    return text;
}

const QString& Input()
{
    static const QString text = QString::fromUtf8(Utf8Input().data(), qsizetype(Utf8Input().size()));
    return text;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

struct Timing
{
    double wall = 0;
    double cpu = 0;  // user and system time of this process: steadier on a busy machine
};

Timing MedianFormatTime(QString& output)
{
    std::vector<double> walls, cpus;
    for (int i = 0; i < 9; ++i) {
        output = QString();
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = CpuSeconds();
        output = FormatJsonResult(Input());
        cpus.push_back(CpuSeconds() - cpuStart);
        walls.push_back(Seconds(std::chrono::steady_clock::now() - start));
    }
    std::sort(walls.begin(), walls.end());
    std::sort(cpus.begin(), cpus.end());
    return {walls[walls.size() / 2], cpus[cpus.size() / 2]};
}

long StatusKb(const char* field)
{
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long value = -1;
    const std::size_t n = std::strlen(field);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, field, n) == 0)
            value = std::strtol(line + n, nullptr, 10);
    std::fclose(f);
    return value;
}

// Peak resident growth during one call, in a child so earlier runs leave no trace.
long PeakKbInChild()
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        long result = -1;
        // Writing 5 resets the peak (VmHWM) to the current resident size.
        if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
            std::fputs("5", f);
            std::fclose(f);
            const long base = StatusKb("VmRSS:");
            const QString out = FormatJsonResult(Input());
            const long peak = StatusKb("VmHWM:");
            if (base >= 0 && peak >= 0 && out.size() > Input().size())
                result = peak - base;
        }
        if (write(fds[1], &result, sizeof result) != sizeof result)
            _exit(1);
        _exit(0);
    }
    close(fds[1]);
    long result = -1;
    if (pid < 0 || read(fds[0], &result, sizeof result) != sizeof result)
        result = -1;
    close(fds[0]);
    if (pid > 0)
        waitpid(pid, nullptr, 0);
    return result;
}

struct PythonRun
{
    double seconds = -1;
    QByteArray output;
};

PythonRun RunPython()
{
    PythonRun run;
    char in[] = "/tmp/quorbel_json_benchXXXXXX";
    const int fd = mkstemp(in);
    if (fd < 0)
        return run;
    const std::string& text = Utf8Input();
    const bool written = write(fd, text.data(), text.size()) == ssize_t(text.size());
    close(fd);
    const std::string out = std::string(in) + ".out";
    const std::string command =
        QUORBEL_BENCH_PYTHON " -E -c '"
        "import json, sys, time\n"
        "s = open(sys.argv[1], encoding=\"utf-8\").read()\n"
        "times = []\n"
        "for _ in range(3):\n"
        "    t = time.process_time()\n"
        "    r = json.dumps(json.loads(s), indent=4, ensure_ascii=False)\n"
        "    times.append(time.process_time() - t)\n"
        "open(sys.argv[2], \"w\", encoding=\"utf-8\", newline=\"\").write(r)\n"
        "print(sorted(times)[1])\n"
        "' " + std::string(in) + " " + out;
    if (written) {
        if (FILE* p = popen(command.c_str(), "r")) {
            char line[64] = {};
            if (std::fgets(line, sizeof line, p))
                run.seconds = std::strtod(line, nullptr);
            if (pclose(p) != 0)
                run.seconds = -1;
        }
        if (FILE* f = std::fopen(out.c_str(), "rb")) {
            char buf[1 << 16];
            std::size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
                run.output.append(buf, qsizetype(n));
            std::fclose(f);
        }
    }
    std::remove(in);
    std::remove(out.c_str());
    return run;
}

void BM_FormatJsonResult(benchmark::State& state)
{
    const QString& input = Input();
    for (auto _ : state) {
        QString out = FormatJsonResult(input);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(Utf8Input().size()));
    state.counters["utf8_input_bytes"] = double(Utf8Input().size());
    state.counters["utf16_input_bytes"] = double(input.size()) * 2;
}
BENCHMARK(BM_FormatJsonResult)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    const double utf8Mb = double(Utf8Input().size()) / 1e6;
    const double utf16Bytes = double(Input().size()) * 2;
    std::printf("Input: %zu bytes UTF-8, %.0f bytes UTF-16 (%lld characters)\n", Utf8Input().size(), utf16Bytes,
                static_cast<long long>(Input().size()));

    const long peakKb = PeakKbInChild();
    benchmark::RunSpecifiedBenchmarks();

    QString ours;
    const Timing timing = MedianFormatTime(ours);
    const double oursSeconds = timing.cpu;
    const bool formatted = ours.size() > Input().size();
    std::printf("\nFormatJsonResult: %.1f ms CPU (%.1f ms wall) median, %.0f MB/s of UTF-8 input by CPU time "
                "(%.0f MB/s wall, %.0f MB/s of UTF-16 input by CPU time)%s\n",
                timing.cpu * 1e3, timing.wall * 1e3, utf8Mb / timing.cpu, utf8Mb / timing.wall,
                utf16Bytes / 1e6 / timing.cpu, formatted ? "" : " (INPUT NOT RECOGNISED AS JSON)");
    if (peakKb >= 0)
        std::printf("FormatJsonResult peak memory: %.1f MB = %.2f x the input's UTF-16 size (output %.1f MB)\n",
                    peakKb * 1024.0 / 1e6, peakKb * 1024.0 / utf16Bytes, double(ours.size()) * 2 / 1e6);
    else
        std::printf("FormatJsonResult peak memory: not measurable here\n");

    const PythonRun python = RunPython();
    if (python.seconds > 0) {
        std::printf("Python json.loads + json.dumps(indent=4, ensure_ascii=False): %.1f ms CPU median, %.1f MB/s\n",
                    python.seconds * 1e3, utf8Mb / python.seconds);
        std::printf("Speed-up over Python: %.1f x\n", python.seconds / oursSeconds);
        // Python writes LF breaks and a bare slash; otherwise the layouts agree.
        QString comparable;
        comparable.reserve(ours.size());
        for (qsizetype i = 0; i < ours.size(); ++i) {
            const QChar c = ours.at(i);
            const QChar next = i + 1 < ours.size() ? ours.at(i + 1) : QChar();
            if ((c == u'\r' && next == u'\n') || (c == u'\\' && next == u'/'))
                continue;
            comparable.append(c);
            if (c == u'\\')  // keep the escaped character as it is
                comparable.append(ours.at(++i));
        }
        std::printf("Output identical to Python's (after CR LF -> LF, \\/ -> /): %s\n",
                    comparable == QString::fromUtf8(python.output) ? "yes" : "NO");
    } else {
        std::printf("Python reference: python3 not available or failed\n");
    }
    benchmark::Shutdown();
    return 0;
}
