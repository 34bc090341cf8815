#include "textio/extendedattributes.h"

#include <QFile>
#include <QList>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <cstring>
#include <sys/xattr.h>
#endif

namespace parvello {

#ifdef Q_OS_LINUX

namespace {

constexpr char AccessList[] = "system.posix_acl_access";

// Whether the file system keeps no extended attributes at all: then there is nothing to
// carry, and nothing to take away.
bool noAttributesHere(int number) {
    return number == ENOTSUP || number == EOPNOTSUPP;
}

// One of the two lists the system gives: names, NUL after each; or a value. Asked for again
// while it grows between the question of its size and the reading.
template <class Get> bool readGrowing(QByteArray& into, Get&& get) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ssize_t size = get(nullptr, 0);
        if (size <= 0) {
            into.clear();
            return size == 0;
        }
        into.resize(size);
        const ssize_t got = get(into.data(), size_t(size));
        if (got >= 0) {
            into.resize(got);
            return true;
        }
        if (errno != ERANGE)
            return false;
    }
    return false;
}

QString failed(const QByteArray& name, int number) {
    return QStringLiteral("its extended attribute %1 cannot be carried over (%2)")
        .arg(QString::fromUtf8(name), qt_error_string(number));
}

} // namespace

QString CopyExtendedAttributes(const QByteArray& from, int to) {
    QByteArray names;
    if (!readGrowing(names, [&](char* data, size_t size) {
            return ::llistxattr(from.constData(), data, size);
        })) {
        if (!noAttributesHere(errno))
            return QStringLiteral("its extended attributes cannot be read (%1)")
                .arg(qt_error_string(errno));
        names.clear();
    }
    bool accessList = false;
    QByteArray value;
    for (const QByteArray& name : names.split('\0')) {
        // Capabilities only add rights; a default list belongs to folders only.
        if (name.isEmpty() || name == "security.capability" || name == "system.posix_acl_default")
            continue;
        if (!readGrowing(value, [&](char* data, size_t size) {
                return ::lgetxattr(from.constData(), name.constData(), data, size);
            })) {
            if (errno == ENODATA) // gone since it was listed
                continue;
            return failed(name, errno);
        }
        if (::fsetxattr(to, name.constData(), value.constData(), size_t(value.size()), 0) != 0)
            return failed(name, errno);
        accessList = accessList || name == AccessList;
    }
    if (!accessList && ::fremovexattr(to, AccessList) != 0 && errno != ENODATA &&
        !noAttributesHere(errno))
        return failed(AccessList, errno);
    return {};
}

#else

QString CopyExtendedAttributes(const QByteArray&, int) {
    return {};
}

#endif

} // namespace parvello
