#include "cli/report.h"

#include "base/printabletext.h"
#include "cli/names.h"
#include "cli/standardoutput.h"
#include "cli/stderrprompts.h"
#include "textio/codepage.h"

#include <chrono>
#include <unordered_map>

namespace parvello::cli {

const char* formatName(SourceFormat format) {
    switch (format) {
    case SourceFormat::CodePage:
        return "code-page";
    case SourceFormat::Utf8:
        return "utf-8";
    case SourceFormat::Utf8WithMark:
        return "utf-8-mark";
    case SourceFormat::Utf16LE:
        return "utf-16le";
    case SourceFormat::Utf16BE:
        return "utf-16be";
    case SourceFormat::Utf32LE:
        return "utf-32le";
    case SourceFormat::Utf32BE:
        return "utf-32be";
    }
    return "";
}

const char* encodingName(OutputEncoding encoding) {
    switch (encoding) {
    case OutputEncoding::CodePage:
        return "code-page";
    case OutputEncoding::Utf8:
        return "utf-8";
    case OutputEncoding::Utf8WithMark:
        return "utf-8-mark";
    case OutputEncoding::Utf16LE:
        return "utf-16le";
    }
    return "";
}

const char* outcomeName(FileOutcome outcome) {
    switch (outcome) {
    case FileOutcome::Written:
        return "written";
    case FileOutcome::Unchanged:
        return "unchanged";
    case FileOutcome::NotText:
        return "not-text";
    case FileOutcome::CannotHold:
        return "cannot-hold";
    case FileOutcome::NotRead:
        return "not-read";
    case FileOutcome::NotWritten:
        return "not-written";
    case FileOutcome::NotAFile:
        return "not-a-file";
    case FileOutcome::Changed:
        return "changed";
    case FileOutcome::InUse:
        return "in-use";
    case FileOutcome::WouldChange:
        return "would-change";
    }
    return "";
}

std::string problemText(const std::filesystem::path& source, const std::filesystem::path& output,
                        const FileReport& report) {
    const FileFailure& failure = report.failure;
    const std::string& reason = failure.reason;
    const std::string& told = report.reason;
    const std::string& system = reason.empty() ? told : reason;
    switch (report.outcome) {
    case FileOutcome::NotRead:
        return "cannot read: " + system;
    case FileOutcome::NotWritten:
        if (output.native() != source.native())
            return "cannot write " + PrintablePath(output) + ": " + system;
        return "cannot write: " + system;
    default:
        if (failure && !reason.empty() && reason != told)
            return told + ": " + reason;
        return told;
    }
}

std::string JsonString(std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x80) {
            char32_t code = 0;
            const auto length = size_t(Utf8SequenceAt(text.substr(i), code));
            if (length == 0) {
                out += "\\\\";
                out += char('0' + (byte >> 6));
                out += char('0' + ((byte >> 3) & 7));
                out += char('0' + (byte & 7));
                ++i;
            } else {
                out.append(text.substr(i, length));
                i += length;
            }
            continue;
        }
        ++i;
        switch (byte) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (byte < 0x20) {
                out += "\\u00";
                out += hex[byte >> 4];
                out += hex[byte & 15];
            } else {
                out += char(byte);
            }
        }
    }
    out += '"';
    return out;
}

// One line of --report json: its members in the order of their names, as a JSON object
// keeps them.
std::string jsonLine(const std::string& name, std::string_view outcome, const SourceFacts* facts,
                     std::optional<std::int64_t> bytesOut, std::string_view reason) {
    std::string line = "{";
    const auto member = [&line](const char* key, const std::string& value) {
        if (line.size() > 1)
            line += ',';
        line += '"';
        line += key;
        line += "\":";
        line += value;
    };
    const bool read = facts && facts->read;
    if (facts)
        member("bytes_in", std::to_string(facts->bytes));
    if (bytesOut)
        member("bytes_out", std::to_string(*bytesOut));
    if (read && facts->format == SourceFormat::CodePage)
        member("codepage", JsonString(CodePage::ansi().name()));
    if (read)
        member("encoding", JsonString(formatName(facts->format)));
    member("outcome", JsonString(outcome));
    member("path", JsonString(name));
    if (read)
        member("quotes", std::to_string(facts->quotes));
    if (!reason.empty())
        member("reason", JsonString(reason));
    if (read)
        member("written_as", JsonString(encodingName(facts->writtenAs)));
    return line + "}\n";
}

void nameLeftOut(StderrPrompts& prompts, bool json, const LeftOut& name) {
    prompts.printLine(name.shown + ": " + name.reason);
    if (json)
        WriteStdout(jsonLine(name.path, name.outcome, nullptr, std::nullopt, name.reason));
}

void nameReplacedResults(StderrPrompts& prompts, const std::vector<Job>& jobs,
                         const std::vector<char>& resultMade) {
    std::unordered_map<std::filesystem::path::string_type, size_t> holder;
    for (size_t j = 0; j < jobs.size(); ++j) {
        if (!resultMade[j])
            continue;
        const auto earlier = holder.find(jobs[j].output.native());
        if (earlier != holder.end() &&
            jobs[earlier->second].source.native() != jobs[j].source.native())
            prompts.printLine("replaced: " + PrintablePath(jobs[j].output) + ": the result of " +
                              PrintablePath(jobs[earlier->second].source) +
                              " was replaced by the result of " + PrintablePath(jobs[j].source));
        holder[jobs[j].output.native()] = j;
    }
}

void writeDiffSummary(const Tally& tally, size_t files) {
    std::string summary = std::to_string(tally.wouldChange.load()) + " of " +
                          std::to_string(files) + " file(s) would change, " +
                          std::to_string(tally.quotesChanged.load()) + " quote(s) in all";
    if (tally.untouched > 0)
        summary += "; " + std::to_string(tally.untouched.load()) + " left untouched";
    WriteStdout(summary + '\n');
}

void InOrder::put(size_t job, std::string text) {
    const std::lock_guard lock(mutex_);
    held_ += std::int64_t(text.size());
    pending_[job] = std::move(text);
    for (; next_ < pending_.size() && pending_[next_]; ++next_) {
        if (!pending_[next_]->empty())
            WriteStdout(*pending_[next_]);
        held_ -= std::int64_t(pending_[next_]->size());
        pending_[next_].reset();
    }
    turn_.notify_all();
}

bool InOrder::waitTurn(size_t job) {
    std::unique_lock lock(mutex_);
    // A job that fails to write wakes the others; the timeout is for a failure met
    // elsewhere.
    while (next_ < job && !StdoutFailed())
        turn_.wait_for(lock, std::chrono::milliseconds(100));
    return !StdoutFailed();
}

} // namespace parvello::cli
