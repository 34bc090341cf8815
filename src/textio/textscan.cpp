#include "textio/textscan.h"

#include "textio/simd/plain.h"

#include <cstring>

namespace parvello {

using simd::CheckInvalid;
using simd::decodeSequence;
using simd::putCodePoint;
using simd::Sequence;

std::ptrdiff_t FindCarriageReturnByte(const char* bytes, std::ptrdiff_t n) {
    const void* cr = std::memchr(bytes, '\r', size_t(n));
    return cr ? static_cast<const char*>(cr) - bytes : n;
}

Utf8Check CheckUtf8(const char* bytes, std::ptrdiff_t n, ScanLevel level) {
    return Utf8Checker(level).finish(bytes, n);
}

Utf8Checker::Utf8Checker(ScanLevel level) : kernels_(&ScanKernelsFor(level)) {}

bool Utf8Checker::feed(const char* bytes, std::ptrdiff_t filled) {
    if (checked_ == CheckInvalid)
        return false;
    if (!kernels_->feedUtf8(reinterpret_cast<const unsigned char*>(bytes), checked_, filled,
                            nonAscii_))
        checked_ = CheckInvalid;
    return checked_ != CheckInvalid;
}

Utf8Check Utf8Checker::finish(const char* bytes, std::ptrdiff_t total) {
    // The vector levels check what is left past the last whole block here, and then every
    // byte; the others checked every byte as it was fed.
    if (feed(bytes, total) && !kernels_->finishUtf8(reinterpret_cast<const unsigned char*>(bytes),
                                                    checked_, total, nonAscii_))
        checked_ = CheckInvalid;
    Utf8Check check;
    check.valid = checked_ == total;
    check.nonAscii = nonAscii_;
    return check;
}

char16_t* Utf8Decoder::decode(const char* bytes, std::ptrdiff_t n, char16_t* out) {
    if (failed_)
        return nullptr;
    const auto* in = reinterpret_cast<const unsigned char*>(bytes);
    const unsigned char* const end = in + n;
    // First the sequence that the previous chunk left unfinished, a byte at a time.
    while (pendingCount_ > 0 && in < end) {
        pending_[pendingCount_++] = *in++;
        char32_t cp = 0;
        int length = 0;
        switch (decodeSequence(pending_, pendingCount_, cp, length)) {
        case Sequence::Invalid:
            failed_ = true;
            return nullptr;
        case Sequence::Incomplete:
            continue;
        case Sequence::Complete:
            pendingCount_ = 0;
            if (!(atStart_ && cp == 0xFEFF))
                out = putCodePoint(cp, out);
            atStart_ = false;
            break;
        }
    }
    return decodeFrom(in, end, out);
}

char16_t* Utf8Decoder::decodeFrom(const unsigned char* in, const unsigned char* end,
                                  char16_t* out) {
    while (in < end) {
        if (!atStart_) {
            // Runs of ASCII, many bytes at a time.
            const std::ptrdiff_t ascii = kernels_->widenAscii(in, end - in, out);
            in += ascii;
            out += ascii;
            while (in < end && *in < 0x80)
                *out++ = *in++;
            if (in >= end)
                break;
        } else if (*in < 0x80) {
            *out++ = *in++;
            atStart_ = false;
            continue;
        }
        char32_t cp = 0;
        int length = 0;
        switch (decodeSequence(in, end - in, cp, length)) {
        case Sequence::Invalid:
            failed_ = true;
            return nullptr;
        case Sequence::Incomplete:
            pendingCount_ = int(end - in);
            std::memcpy(pending_, in, size_t(pendingCount_));
            return out;
        case Sequence::Complete:
            break;
        }
        if (!(atStart_ && cp == 0xFEFF))
            out = putCodePoint(cp, out);
        atStart_ = false;
        in += length;
    }
    return out;
}

} // namespace parvello
