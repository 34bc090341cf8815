// Runs the fuzz target once over each file given (or each file of each folder given), so
// that an ordinary build checks the seed corpus and every saved finding without libFuzzer.
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstddef>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size);

int main(int argc, char* argv[]) {
    LLVMFuzzerInitialize(&argc, &argv);
    int runs = 0;
    const auto run = [&](const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
            return false;
        }
        const QByteArray bytes = file.readAll();
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                               size_t(bytes.size()));
        ++runs;
        return true;
    };
    for (int i = 1; i < argc; ++i) {
        const QString path = QFile::decodeName(argv[i]);
        if (QFileInfo(path).isDir()) {
            const QStringList names = QDir(path).entryList(QDir::Files, QDir::Name);
            for (const QString& name : names)
                if (!run(QDir(path).filePath(name)))
                    return 1;
        } else if (!run(path)) {
            return 1;
        }
    }
    if (runs == 0) {
        std::fprintf(stderr, "no input files\n");
        return 1;
    }
    std::printf("%d inputs replayed, every property held\n", runs);
    return 0;
}
