#include "quotes/stagedoutput.h"

#include <algorithm>
#include <bit>

namespace parvello {

namespace {
using Byte = unsigned char;
} // namespace

bool StagedOutput::fillPassQuotes() {
    if (!QuotesPassAvailable())
        return false;
    passQuotes = {};
    for (size_t q = 0; q < 3; ++q) {
        const std::string_view quote = byteRule_->quoteBytes(int(q));
        passQuotes.length[q] = int(quote.size());
        if (quote.empty())
            continue;
        const std::string_view result = byteRule_->resultBytes(int(q));
        if (!byteRule_->resultEncodable(int(q)) || result.find_first_of("\r\n") != result.npos)
            return false;
        const bool lastDiffers = result.size() == quote.size() && quote.size() == 3 &&
                                 result.substr(0, 2) == quote.substr(0, 2);
        if (!result.empty() && result.size() != 1 && !lastDiffers)
            return false;
        std::memcpy(passQuotes.bytes[q].data(), quote.data(), quote.size());
        passQuotes.kept[q] = int(result.size());
        passQuotes.last[q] = result.empty() ? '\0' : result.back();
        passQuotes.changes[q] = byteRule_->changes(int(q));
    }
    return true;
}

bool StagedOutput::fillPassUnits() {
    if (!QuotesPassAvailable())
        return false;
    for (size_t q = 0; q < 3; ++q) {
        const UnitAction& action = unitTable.actions[q];
        if (action.length > 1 ||
            (action.length == 1 && (action.units[0] == u'\r' || action.units[0] == u'\n')))
            return false;
        passUnits.quotes[q] = unitTable.family[q];
        passUnits.removed[q] = action.length == 0;
        passUnits.becomes[q] = action.units[0];
        passUnits.changes[q] = action.changes;
    }
    return true;
}

bool StagedOutput::fillUnitTable() {
    unitTable.family = rule_->family();
    for (size_t q = 0; q < 3; ++q) {
        const std::u16string_view result = rule_->result(q);
        if (result.size() > 8)
            return false;
        std::memcpy(unitTable.actions[q].units, result.data(), result.size() * 2);
        unitTable.actions[q].length = std::ptrdiff_t(result.size());
        unitTable.actions[q].changes = rule_->changes(q);
    }
    unitTable.actions[3] = lf_ ? UnitAction{{u'\n'}, 1} : UnitAction{{u'\r', u'\n'}, 2};
    return true;
}

bool StagedOutput::fillStopTable(bool crLfOnly) {
    if (!stopTable)
        stopTable = std::make_unique<StopTable>();
    StopTable& t = *stopTable;
    // Only the stop bytes are ever looked up: each stands for itself unless it is a
    // line break or ends a quote.
    for (int q = -2; q < 3; ++q) {
        const Byte c = q == -2 ? '\r' : q == -1 ? '\n' : Byte(byteRule_->lastBytes()[size_t(q)]);
        StopAction self;
        self.bytes[0] = char(c);
        self.length = 1;
        t.actions[c] = t.actions[c + 256u] = self;
        t.before[c] = 0;
    }
    if (!crLfOnly)
        for (const Byte c : {Byte('\r'), Byte('\n')})
            t.actions[c] =
                lf_ ? StopAction{{'\n'}, 1, 0, true} : StopAction{{'\r', '\n'}, 2, 0, true};
    std::array<bool, 256> taken{};
    for (int q = 0; q < 3; ++q) {
        const std::string_view quote = byteRule_->quoteBytes(q);
        if (quote.empty())
            continue;
        const std::string_view result = byteRule_->resultBytes(q);
        const Byte last = Byte(quote.back());
        if ((quote.size() != 1 && quote.size() != 3) || !byteRule_->resultEncodable(q) ||
            result.size() > 16 || taken[last] || last == '\r' || last == '\n')
            return false;
        taken[last] = true;
        StopAction action;
        std::memcpy(action.bytes, result.data(), result.size());
        action.length = std::int8_t(result.size());
        action.back = std::int8_t(quote.size() - 1);
        action.ends = true;
        action.changes = byteRule_->changes(q);
        t.actions[last] = action;
        t.before[last] = std::int8_t(quote.size() - 1);
        if (quote.size() == 3)
            std::memcpy(&t.prefix[last], quote.data(), 2);
    }
    return true;
}

bool StagedOutput::setUpPass(bool units, bool crLfOnly, OutputEncoding encoding) {
    staged = 0;
    stopsLookedUp = false;
    quotesPass = false;
    unitsAreOutput =
        units && encoding == OutputEncoding::Utf16LE && std::endian::native == std::endian::little;
    for (size_t k = 0; k < 3 && unitsAreOutput; ++k)
        unitsAreOutput = FindUnpairedSurrogate(rule_->result(k)) < 0;
    byteStops.reset();
    unitStops.reset();
    std::array<char16_t, 5> stop = {u'\r', u'\n', u'\r', u'\r', u'\r'};
    bool anyQuote = false;
    std::ptrdiff_t longest = 4; // CR LF
    if (units && rule_->rule() != QuoteRule::None) {
        anyQuote = true;
        for (size_t k = 0; k < 3; ++k) {
            stop[k + 2] = rule_->family()[k];
            longest =
                std::max<std::ptrdiff_t>(longest, std::ptrdiff_t(rule_->result(k).size()) * 2);
        }
    } else if (!units && !byteRule_->findsNothing()) {
        anyQuote = true;
        for (int k = 0; k < 3; ++k) {
            stop[size_t(k) + 2] = char16_t(Byte(byteRule_->lastBytes()[size_t(k)]));
            longest =
                std::max<std::ptrdiff_t>(longest, std::ptrdiff_t(byteRule_->resultBytes(k).size()));
        }
    }
    if (longest > LongestResult)
        return false;
    unitStage = units;
    if (!stage.data())
        stage = PooledBuffer(StageBytes);
    // The stage is handed on about every half block's worth (every few bytes where the
    // tests read a few at a time, so that quotes are seen cut by hand-overs).
    limit = std::min(StageBytes - 64 - 2 * longest - std::ptrdiff_t(sizeof(StopAction::bytes)),
                     std::max<std::ptrdiff_t>(ReadBlockSize() / 2, 4));
    if (crLfOnly) // line breaks stop nothing: only quotes, or no search at all
        stop[0] = stop[1] = stop[2];
    if (crLfOnly && !anyQuote)
        return true;
    if (units) {
        unitStops.emplace(stop);
        stopsLookedUp = anyQuote && fillUnitTable();
        // The groups make each lone line break CR LF and keep CR LF: not for LF ends.
        quotesPass = stopsLookedUp && (crLfOnly || !lf_) && fillPassUnits();
    } else {
        std::array<char, 5> bytes{};
        for (size_t k = 0; k < 5; ++k)
            bytes[k] = char(stop[k]);
        byteStops.emplace(bytes);
        stopsLookedUp = fillStopTable(crLfOnly);
        quotesPass = stopsLookedUp && (crLfOnly || !lf_) && fillPassQuotes();
    }
    return true;
}

} // namespace parvello
