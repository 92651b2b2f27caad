// Microscope list parse: time and peak allocation for 1, 4 and 16 MiB of a reply whose lines
// hold markers ("$", "#", "^" inside the lines, as in the list test's hostile reply) and of a
// well-formed list (100,000 microscopes at 16 MiB). Peak allocation is the most heap held at
// once during the parse beyond what was held before it (the reply itself is not counted), also
// as a multiple of the reply's size.
#include "RatioReporter.h"
#include "ScopeList.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <malloc.h>
#include <string>

// ---- heap accounting: every allocation of the process goes through these ----

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

namespace {

// Counted only while a peak is measured, so that timed runs pay nothing for it.
std::atomic<bool> counting{false};
std::atomic<long long> liveBytes{0};
std::atomic<long long> peakBytes{0};

void added(void* p)
{
    if (!p || !counting.load(std::memory_order_relaxed))
        return;
    const long long now = liveBytes += (long long)malloc_usable_size(p);
    long long peak = peakBytes.load(std::memory_order_relaxed);
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
    }
}

void removed(void* p)
{
    if (p && counting.load(std::memory_order_relaxed))
        liveBytes -= (long long)malloc_usable_size(p);
}

} // namespace

extern "C" {
void* malloc(size_t n)
{
    void* p = __libc_malloc(n);
    added(p);
    return p;
}
void free(void* p)
{
    removed(p);
    __libc_free(p);
}
void* calloc(size_t n, size_t size)
{
    void* p = __libc_calloc(n, size);
    added(p);
    return p;
}
void* realloc(void* p, size_t n)
{
    if (!counting.load(std::memory_order_relaxed))
        return __libc_realloc(p, n);
    const long long old = p ? (long long)malloc_usable_size(p) : 0;
    void* q = __libc_realloc(p, n);
    if (q || n == 0) {
        liveBytes -= old;
        added(q);
    }
    return q;
}
void* memalign(size_t alignment, size_t n)
{
    void* p = __libc_memalign(alignment, n);
    added(p);
    return p;
}
void* aligned_alloc(size_t alignment, size_t n)
{
    return memalign(alignment, n);
}
int posix_memalign(void** out, size_t alignment, size_t n)
{
    void* p = memalign(alignment, n);
    if (!p)
        return ENOMEM;
    *out = p;
    return 0;
}
}

namespace {

constexpr int MiB = 1024 * 1024;

// Every 997th byte of a run of 'x' is, in turn, "$", "#", "^" or a line break: lines of about
// 4 KB, each with a marker of either kind and a "^" inside it.
QByteArray markersInLines(int bytes)
{
    QByteArray b(bytes, 'x');
    for (int i = 0; i < b.size(); i += 997)
        b[i] = "$#^\n"[(i / 997) % 4];
    return b;
}

// A banner and well-formed records of three slides each, 100,000 records per 16 MiB.
QByteArray wellFormed(int bytes)
{
    QByteArray b = "Welcome to the benchmark host.\n";
    const int records = int(100000LL * bytes / (16 * MiB));
    const qsizetype body = bytes - b.size();
    b.reserve(bytes);
    for (int i = 0; i < records; ++i) {
        const QByteArray n = QByteArray::number(i);
        QByteArray rec = (i % 2 ? "$scope" : "#scope") + n + "\n60\nMicroscope " + n + ", a slide scanner.\n";
        const QByteArray slides = "^\nslide" + n + "a\nslide" + n + "b\nslide" + n + "c\n^\n";
        // Descriptions padded so that the list ends at the size asked for.
        const qsizetype end = b.size() + body * (i + 1) / records - body * i / records;
        const qsizetype pad = end - b.size() - rec.size() - slides.size();
        if (pad > 0)
            rec += QByteArray(pad, 'd');
        b += rec + slides;
    }
    return b;
}

// The most heap held at once while `reply` is parsed and its list exists, beyond what was held
// before.
long long peakOfParse(const QByteArray& reply)
{
    // Only blocks allocated while counting are counted when freed; the list is freed inside.
    liveBytes = 0;
    peakBytes = 0;
    counting = true;
    {
        const ScopeList list = parseScopeList(reply.constData(), int(reply.size()));
        benchmark::DoNotOptimize(list.records.size());
    }
    counting = false;
    return peakBytes.load();
}

// Times the parse; the list's destruction is not timed.
void parse(benchmark::State& state, const QByteArray& reply, int records)
{
    for (auto _ : state) {
        auto* list = new ScopeList(parseScopeList(reply.constData(), int(reply.size())));
        state.PauseTiming();
        if (records >= 0 && list->records.size() != records)
            state.SkipWithError("unexpected number of records");
        delete list;
        state.ResumeTiming();
    }
    const long long peak = peakOfParse(reply);
    state.SetBytesProcessed(state.iterations() * reply.size());
    state.counters["peak_MiB"] = double(peak) / MiB;
    state.counters["peak_x_reply"] = double(peak) / double(reply.size());
}

void registerAll()
{
    for (const int mib : {1, 4, 16}) {
        const std::string size = std::to_string(mib) + "MiB";
        benchmark::RegisterBenchmark(("BM_MarkersInLines/" + size).c_str(), [mib](benchmark::State& s) {
            parse(s, markersInLines(mib * MiB), -1);
        })->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("BM_WellFormed/" + size).c_str(), [mib](benchmark::State& s) {
            parse(s, wellFormed(mib * MiB), int(100000LL * mib / 16));
        })->Unit(benchmark::kMillisecond);
    }
}

// Growth of the time from 1 to 16 MiB; linear is 16.
void growth(std::ostream& out, const RatioReporter::Times& times)
{
    out << "\nTime at 16 MiB as a multiple of the time at 1 MiB:\n";
    for (const char* shape : {"BM_MarkersInLines", "BM_WellFormed"}) {
        const auto small = times.find(std::string(shape) + "/1MiB");
        const auto large = times.find(std::string(shape) + "/16MiB");
        if (small != times.end() && large != times.end() && small->second > 0)
            out << "  " << shape << ": " << large->second / small->second << "\n";
    }
}

} // namespace

int main(int argc, char** argv)
{
    registerAll();
    RatioReporter reporter({}, {}, growth);
    return runBenchmarks(argc, argv, &reporter);
}
