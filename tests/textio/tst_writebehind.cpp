// Writing behind on the platform's own descriptors (POSIX, or the C runtime's on Windows):
// what is put arrives whole and in order, and a failed write is told by put() or finish().
#include "textio/writebehind.h"

#include "common/plaintest.h"

#include <fcntl.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#if defined(PARVELLO_OS_WINDOWS)
#include <io.h>
#define open _open
#define close _close
#define O_BINARY_FLAG _O_BINARY
#else
#include <unistd.h>
#define O_BINARY_FLAG 0
#endif

using namespace parvello;

namespace {

const std::filesystem::path target = std::filesystem::temp_directory_path() / "tst_writebehind";

} // namespace

PLAIN_TEST_DATA(putAndFinish) {
    plaintest::addColumn<std::int64_t>("size");
    plaintest::addColumn<std::int64_t>("piece"); // bytes given to each put()
    const std::int64_t block = WriteBehind::BlockBytes;
    for (const std::int64_t size : {std::int64_t(0), std::int64_t(1), block - 1, block,
                                    WriteBehind::Blocks * block + 7, std::int64_t(3) << 20})
        for (const std::int64_t piece : {std::int64_t(1000), block + 1, std::int64_t(8) << 20})
            plaintest::addRow("%lld bytes, %lld a put", (long long)size, (long long)piece)
                << size << piece;
}
PLAIN_TEST(putAndFinish) {
    FETCH(std::int64_t, size);
    FETCH(std::int64_t, piece);
    std::string bytes(size_t(size), '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 + i / 251);
    const int fd =
        ::open(target.string().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_BINARY_FLAG, 0600);
    VERIFY(fd >= 0);
    {
        WriteBehind behind(fd);
        for (std::int64_t at = 0; at < size; at += piece)
            VERIFY(behind.put(bytes.data() + at, std::min(piece, size - at)));
        VERIFY(behind.finish());
        COMPARE(behind.error(), 0);
    }
    ::close(fd);
    std::ifstream in(target, std::ios::binary);
    const std::string written{std::istreambuf_iterator<char>(in), {}};
    COMPARE(written.size(), bytes.size());
    VERIFY(written == bytes);
}

// A descriptor open for reading only: the first block written fails, and every call after
// it says so with the system's error.
PLAIN_TEST(failedWrite) {
    { std::ofstream(target) << "x"; }
    const int fd = ::open(target.string().c_str(), O_RDONLY | O_BINARY_FLAG);
    VERIFY(fd >= 0);
    const std::string bytes(size_t(WriteBehind::BlockBytes) + 1, 'y');
    WriteBehind behind(fd);
    behind.put(bytes.data(), std::int64_t(bytes.size()));
    VERIFY(!behind.finish());
    COMPARE(behind.error(), EBADF);
    VERIFY(!behind.put("z", 1));
    COMPARE(WriteAll(fd, "z", 1), EBADF);
    ::close(fd);
}
