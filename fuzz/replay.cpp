// The replay driver of the fuzz targets in builds without libFuzzer: feeds every file of the given folders
// (the seed corpus) to the target, then a fixed number of variants made from them by a deterministic
// mutator, so the same inputs run on every machine. A crash or sanitizer report fails the run; a crashing
// input is written to "replay-crash.bin" in the working folder.

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) __attribute__((weak));

namespace {

using Bytes = std::vector<uint8_t>;

class Random
{
public:
    explicit Random(uint64_t seed) : m_state(seed ? seed : 0x9e3779b97f4a7c15ull) {}
    uint64_t next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return m_state;
    }
    size_t below(size_t n) { return n == 0 ? 0 : size_t(next() % n); }

private:
    uint64_t m_state;
};

// Bytes that steer the parsers: separators of vCard, CSV, the sync lines and plists, and edge values.
const uint8_t kInteresting[] = {0x00, 0xff, 0x7f, 0x80, 0x01, '\n', '\r', ':', ';', '=',  ',',  '"',
                                '\\', '.',  '/',  '-',  '$',  ' ',  '\t', '<', '>', 0xc3, 0xe3, 0xf0};

void mutateOnce(Bytes &b, const std::vector<Bytes> &seeds, Random &rnd)
{
    switch (rnd.below(9)) {
    case 0: // flip one bit
        if (!b.empty())
            b[rnd.below(b.size())] ^= uint8_t(1u << rnd.below(8));
        break;
    case 1: // one byte becomes a random or an interesting value
        if (!b.empty())
            b[rnd.below(b.size())] = rnd.below(2) ? uint8_t(rnd.next()) : kInteresting[rnd.below(sizeof kInteresting)];
        break;
    case 2: { // insert a few bytes
        const size_t at = rnd.below(b.size() + 1);
        const size_t n = 1 + rnd.below(8);
        for (size_t i = 0; i < n; ++i)
            b.insert(b.begin() + long(at), kInteresting[rnd.below(sizeof kInteresting)]);
        break;
    }
    case 3: { // delete a range
        if (b.empty())
            break;
        const size_t at = rnd.below(b.size());
        const size_t n = 1 + rnd.below(std::min<size_t>(64, b.size() - at));
        b.erase(b.begin() + long(at), b.begin() + long(at + n));
        break;
    }
    case 4: { // duplicate a range
        if (b.empty() || b.size() > (1u << 20))
            break;
        const size_t at = rnd.below(b.size());
        const size_t n = 1 + rnd.below(std::min<size_t>(256, b.size() - at));
        const Bytes piece(b.begin() + long(at), b.begin() + long(at + n));
        b.insert(b.begin() + long(rnd.below(b.size() + 1)), piece.begin(), piece.end());
        break;
    }
    case 5: // cut the end off
        if (!b.empty())
            b.resize(rnd.below(b.size()));
        break;
    case 6: { // a 32-bit edge value, either byte order (lengths and counts of the binary formats)
        if (b.size() < 4)
            break;
        static const uint32_t values[] = {0, 1, 0x7fffffff, 0x80000000, 0xffffffff, 0xffff, 0x10000, 24};
        const uint32_t v = values[rnd.below(std::size(values))];
        const size_t at = rnd.below(b.size() - 3);
        for (int i = 0; i < 4; ++i)
            b[at + size_t(i)] = rnd.below(2) ? uint8_t(v >> (8 * i)) : uint8_t(v >> (8 * (3 - i)));
        break;
    }
    case 7: { // splice: the head of this input and the tail of another seed
        const Bytes &other = seeds[rnd.below(seeds.size())];
        if (other.empty())
            break;
        b.resize(rnd.below(b.size() + 1));
        const size_t from = rnd.below(other.size());
        b.insert(b.end(), other.begin() + long(from), other.end());
        break;
    }
    default: { // copy a range over another place
        if (b.size() < 2)
            break;
        const size_t from = rnd.below(b.size());
        const size_t to = rnd.below(b.size());
        const size_t n = std::min(b.size() - std::max(from, to), 1 + rnd.below(32));
        std::memmove(b.data() + to, b.data() + from, n);
        break;
    }
    }
}

// The input in progress, written out by the crash handler so that a failure can be reproduced.
const Bytes *current = nullptr;

extern "C" void onCrash(int sig)
{
    if (current) {
        const int fd = ::open("replay-crash.bin", O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0) {
            (void)!::write(fd, current->data(), current->size());
            ::close(fd);
        }
        static const char note[] = "replay: crashing input written to replay-crash.bin\n";
        (void)!::write(2, note, sizeof note - 1);
    }
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void run(const Bytes &input)
{
    current = &input;
    // A copy on the heap of exactly the input's size, so AddressSanitizer sees a read past its end.
    auto *copy = static_cast<uint8_t *>(std::malloc(input.size() ? input.size() : 1));
    if (!input.empty())
        std::memcpy(copy, input.data(), input.size());
    LLVMFuzzerTestOneInput(copy, input.size());
    std::free(copy);
    current = nullptr;
}

} // namespace

int main(int argc, char **argv)
{
    for (int sig : {SIGSEGV, SIGABRT, SIGBUS, SIGILL, SIGFPE})
        std::signal(sig, onCrash);
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    long variants = 2000;
    std::vector<Bytes> seeds;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--variants" && i + 1 < argc) {
            variants = std::strtol(argv[++i], nullptr, 10);
            continue;
        }
        std::vector<std::filesystem::path> files;
        if (std::filesystem::is_directory(arg)) {
            for (const auto &entry : std::filesystem::recursive_directory_iterator(arg))
                if (entry.is_regular_file())
                    files.push_back(entry.path());
        } else {
            files.emplace_back(arg);
        }
        std::sort(files.begin(), files.end());
        for (const auto &path : files) {
            std::ifstream in(path, std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "can not read %s\n", path.c_str());
                return 2;
            }
            seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    if (seeds.empty()) {
        std::fprintf(stderr, "usage: %s [--variants N] CORPUS_DIR|FILE...\n", argv[0]);
        return 2;
    }
    for (const Bytes &seed : seeds)
        run(seed);
    run({});
    Random rnd(0x5eed);
    for (long i = 0; i < variants; ++i) {
        Bytes b = seeds[size_t(i) % seeds.size()];
        const size_t steps = 1 + rnd.below(4);
        for (size_t s = 0; s < steps; ++s)
            mutateOnce(b, seeds, rnd);
        run(b);
    }
    std::printf("%zu seeds and %ld variants ran\n", seeds.size(), variants);
    return 0;
}
