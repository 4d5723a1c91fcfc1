// Telling files apart by their bytes.
#include "platform/FileDescriptor.h"
#include "platform/FileOperations.h"
#include "platform/TimeOfDay.h"

#include <array>
#include <cstring>
#include <functional>
#include <tuple>
#include <vector>

#include <climits>

namespace kurumu::platform::detail {

namespace {

using sys::os;
using sys::retry;

// The register a checksum starts from (a CRC-32's).
constexpr quint32 kChecksumStart = 0xFFFFFFFFu;
// The first and last blocks decide most comparisons of different files at once.
constexpr off_t kEdgeBlock = off_t{64} * 1024;
// Two buffers of this size stay in the processor's cache between read and compare.
constexpr off_t kCompareBlock = off_t{256} * 1024;

FileDescriptor openForReading(const Place& path) {
    // Never follows a link and never waits on a fifo: only a regular file is read.
    return FileDescriptor(
        retry([&] { return os().openat(path.folder, path.c(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0); }));
}

Status readExactly(int fd, char* buffer, off_t size, off_t offset) {
    while (size > 0) {
        const ssize_t got = retry([&] { return os().pread(fd, buffer, static_cast<std::size_t>(size), offset); });
        if (got < 0) return lastError();
        if (got == 0) return Status{EIO};  // shorter than it was a moment ago
        buffer += got;
        size -= got;
        offset += got;
    }
    return {};
}

// The two files' bytes from offset to end, in blocks; false at the first difference.
class RangeComparer {
public:
    RangeComparer(int first, int second) : m_first(first), m_second(second), m_a(kCompareBlock), m_b(kCompareBlock) {}

    // Each stretch found equal is handed to the consumer.
    Result<bool> equal(off_t offset, off_t end, Pacer& pacer,
                       const std::function<void(const char*, off_t)>& equalBytes) {
        while (offset < end) {
            if (!pacer.keepGoing(m_compared)) return {false, Status{ECANCELED}};
            const off_t size = std::min(end - offset, kCompareBlock);
            if (const Status read = readExactly(m_first, m_a.data(), size, offset); !read.ok()) return {false, read};
            if (const Status read = readExactly(m_second, m_b.data(), size, offset); !read.ok()) return {false, read};
            if (std::memcmp(m_a.data(), m_b.data(), static_cast<std::size_t>(size)) != 0) return {false, {}};
            if (equalBytes) equalBytes(m_a.data(), size);
            offset += size;
            m_compared += size;
        }
        return {true, {}};
    }

private:
    int m_first;
    int m_second;
    std::vector<char> m_a;
    std::vector<char> m_b;
    qint64 m_compared = 0;  // over every range so far
};

// A link's contents are the text it points to.
Result<QByteArray> linkText(const Place& link) {
    std::vector<char> target(PATH_MAX + 1);
    const ssize_t length = os().readlinkat(link.folder, link.c(), target.data(), target.size());
    if (length < 0) return {{}, lastError()};
    return {QByteArray(target.data(), length), {}};
}

Result<bool> sameLinks(const Place& first, const Place& second) {
    const Result<QByteArray> a = linkText(first);
    if (!a.ok()) return {false, a.status};
    const Result<QByteArray> b = linkText(second);
    if (!b.ok()) return {false, b.status.error == EINVAL ? Status{} : b.status};  // not a link
    return {a.value == b.value, {}};
}

}  // namespace

namespace {

constexpr qint64 kTenthNs = 100'000'000;
// The first chunk takes a fifth of a second on a stick that writes 5 MB/s.
constexpr std::size_t kFirstChunk = std::size_t{1} << 20;
constexpr std::size_t kSmallestChunk = std::size_t{64} << 10;
constexpr std::size_t kLargestChunk = std::size_t{64} << 20;

}  // namespace

Pacer::Pacer(const KeepGoing& keepGoing, qint64 total)
    : m_keepGoing(keepGoing),
      m_total(total),
      m_lastAskedNs(steadyClockNs()),
      m_chunkStartNs(m_lastAskedNs),
      m_chunk(kFirstChunk) {}

bool Pacer::keepGoing(qint64 done) {
    if (m_stopped) return false;
    qint64 now = steadyClockNs();
    if (done > m_done && now > m_chunkStartNs) {
        // As many bytes as the last chunks went at, for a tenth of a second; growing at most
        // fourfold at a time, since a chunk into the cache says little of the disk.
        const double perNs = static_cast<double>(done - m_done) / static_cast<double>(now - m_chunkStartNs);
        const auto fits = static_cast<std::size_t>(perNs * static_cast<double>(kTenthNs));
        m_chunk = std::clamp(fits, kSmallestChunk, std::min(kLargestChunk, m_chunk * 4));
    }
    if (done >= 0) {
        m_done = std::max(m_done, done);
        m_chunkStartNs = now;
    }
    if (!m_keepGoing || now - m_lastAskedNs < kTenthNs) return true;
    m_stopped = !m_keepGoing(ByteProgress{m_done, m_total});
    // The time the host took is not the disk's.
    now = steadyClockNs();
    m_lastAskedNs = now;
    if (done >= 0) m_chunkStartNs = now;
    return !m_stopped;
}

Result<bool> compareContents(const Place& first, const Place& second, const KeepGoing& keepGoing,
                             const CopyCheck* summed, DuplicateProof* proof) {
    const FileDescriptor a = openForReading(first);
    if (!a.valid() && errno == ELOOP) return sameLinks(first, second);
    if (!a.valid()) return {false, lastError()};
    const FileDescriptor b = openForReading(second);
    if (!b.valid()) return {false, errno == ELOOP ? Status{} : lastError()};
    struct stat infoA {};
    struct stat infoB {};
    if (os().fstat(a.get(), &infoA) != 0 || os().fstat(b.get(), &infoB) != 0) return {false, lastError()};
    if (!S_ISREG(infoA.st_mode) || !S_ISREG(infoB.st_mode) || infoA.st_size != infoB.st_size) return {false, {}};
    if (identityOf(infoA) == identityOf(infoB)) {  // one file under two names
        if (proof != nullptr) proof->sameFile = true;
        return {true, {}};
    }
    const off_t size = infoA.st_size;
    const off_t head = std::min(size, kEdgeBlock);
    const off_t tail = std::max(head, size - kEdgeBlock);
    RangeComparer comparer(a.get(), b.get());
    Pacer pacer(keepGoing, size);
    // The checksum in the file's order: the last block, compared second, is kept until the
    // middle is summed.
    const bool summing = summed != nullptr && summed->checksum && proof != nullptr;
    quint32 sum = kChecksumStart;
    std::vector<char> last;
    const auto add = [&](const char* bytes, off_t length) {
        sum = summed->checksum(sum, reinterpret_cast<const std::byte*>(bytes), static_cast<std::size_t>(length));
    };
    const auto keep = [&](const char* bytes, off_t length) { last.insert(last.end(), bytes, bytes + length); };
    using Consumer = std::function<void(const char*, off_t)>;
    const std::array ranges{std::tuple{off_t{0}, head, summing ? Consumer(add) : Consumer()},
                            std::tuple{tail, size, summing ? Consumer(keep) : Consumer()},
                            std::tuple{head, tail, summing ? Consumer(add) : Consumer()}};
    for (const auto& [from, to, consume] : ranges) {
        const Result<bool> equal = comparer.equal(from, to, pacer, consume);
        if (!equal.ok() || !equal.value) return equal;
    }
    if (summing) {
        add(last.data(), static_cast<off_t>(last.size()));
        proof->checksum = sum;
    }
    return {true, {}};
}

Result<bool> isPrefixOf(const Place& part, const Place& whole, const KeepGoing& keepGoing) {
    const FileDescriptor a = openForReading(part);
    if (!a.valid()) return {false, lastError()};
    const FileDescriptor b = openForReading(whole);
    if (!b.valid()) return {false, lastError()};
    struct stat infoA {};
    struct stat infoB {};
    if (os().fstat(a.get(), &infoA) != 0 || os().fstat(b.get(), &infoB) != 0) return {false, lastError()};
    if (!S_ISREG(infoA.st_mode) || !S_ISREG(infoB.st_mode) || infoA.st_size > infoB.st_size) return {false, {}};
    Pacer pacer(keepGoing, infoA.st_size);
    return RangeComparer(a.get(), b.get()).equal(0, infoA.st_size, pacer, {});
}

}  // namespace kurumu::platform::detail
